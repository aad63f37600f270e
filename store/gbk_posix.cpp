#include "store/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace km27 {

namespace {
std::string Convert(const char* to, const char* from, const std::string& in, bool* ok) {
  if (ok) *ok = false;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out;
  std::vector<char> buf(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  bool good = true;
  while (srcLeft > 0) {
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf.data(), buf.size() - dstLeft);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Undecodable byte: keep going with a replacement so a damaged file still reads.
      good = false;
      out.push_back('?');
      ++src;
      --srcLeft;
    }
  }
  iconv_close(cd);
  if (ok) *ok = good;
  return out;
}
}  // namespace

std::string Utf8ToGbk(const std::string& utf8, bool* ok) { return Convert("GBK", "UTF-8", utf8, ok); }
std::string GbkToUtf8(const std::string& gbk, bool* ok) { return Convert("UTF-8", "GBK", gbk, ok); }

}  // namespace km27
