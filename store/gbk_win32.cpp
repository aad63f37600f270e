#include "store/gbk.h"

#include <windows.h>

namespace km27 {

namespace {

constexpr UINT kGbkCodePage = 936;

// Code page 936 also maps the user-defined area (to the private-use characters), which the other
// build's GBK refuses: a file must read the same on both.
bool PrivateUse(unsigned cp) { return cp >= 0xE000 && cp <= 0xF8FF; }

void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

unsigned DecodeUtf8(const std::string& s, size_t i, size_t n) {
  const auto b = [&](size_t k) { return unsigned(static_cast<unsigned char>(s[i + k])); };
  if (n == 1) return b(0);
  if (n == 2) return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
  if (n == 3) return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
  return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
}

// Whether every character of a conversion's UTF-16 result is one both builds' GBK share.
bool AllShared(const std::wstring& w) {
  for (wchar_t c : w)
    if (PrivateUse(unsigned(c)) || (unsigned(c) >= 0xD800 && unsigned(c) <= 0xDFFF))
      return false;
  return true;
}

std::wstring ToWide(UINT codePage, const std::string& in) {
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), w.data(), n);
  return w;
}

// Text as a whole in one call each way, which is what nearly all text is; only text with a
// character that needs a '?' goes one character at a time.
bool WholeToGbk(const std::string& utf8, std::string& out) {
  const std::wstring w = ToWide(CP_UTF8, utf8);
  if (w.empty() || !AllShared(w)) return false;
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), nullptr, 0,
                                    nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  out.assign(size_t(n), '\0');
  WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), out.data(), n, nullptr,
                      &usedDefault);
  return !usedDefault;
}

bool WholeFromGbk(const std::string& gbk, std::string& out) {
  const std::wstring w = ToWide(kGbkCodePage, gbk);
  if (w.empty() || !AllShared(w)) return false;
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  out.assign(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), out.data(), n, nullptr, nullptr);
  return true;
}

}  // namespace

// One character at a time, so that a character without a GBK form becomes '?' and the rest
// still converts, as the other build does.
std::string Utf8ToGbk(const std::string& utf8, bool* ok) {
  std::string out;
  if (ok) *ok = true;
  if (utf8.empty() || WholeToGbk(utf8, out)) return out;
  out.clear();
  bool good = true;
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = Utf8SequenceAt(utf8, i);
    const unsigned cp = n == 0 ? 0 : DecodeUtf8(utf8, i, n);
    i += n == 0 ? 1 : n;
    if (n == 1) {
      out.push_back(char(cp));
      continue;
    }
    char mb[4];
    BOOL usedDefault = FALSE;
    const wchar_t wide = wchar_t(cp);
    const int m = n == 0 || cp > 0xFFFF || PrivateUse(cp)
                      ? 0
                      : WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, &wide, 1, mb, sizeof mb, nullptr,
                                            &usedDefault);
    if (m > 0 && !usedDefault) {  // two bytes, or the euro sign's one
      out.append(mb, size_t(m));
    } else {
      good = false;
      out.push_back('?');
    }
  }
  if (ok) *ok = good;
  return out;
}

std::string GbkToUtf8(const std::string& gbk, bool* ok) {
  std::string out;
  if (ok) *ok = true;
  if (gbk.empty() || WholeFromGbk(gbk, out)) return out;
  out.clear();
  bool good = true;
  for (size_t i = 0; i < gbk.size();) {
    const unsigned char c = static_cast<unsigned char>(gbk[i]);
    if (c < 0x80) {
      out.push_back(char(c));
      ++i;
      continue;
    }
    // 0x80 (the euro sign) is the one byte above ASCII that stands alone.
    const int width = c == 0x80 ? 1 : 2;
    wchar_t wide = 0;
    const int m = i + size_t(width) <= gbk.size()
                      ? MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, gbk.data() + i, width, &wide, 1)
                      : 0;
    if (m == 1 && !PrivateUse(unsigned(wide)) && unsigned(wide) >= 0x80) {
      AppendUtf8(out, unsigned(wide));
      i += size_t(width);
    } else {
      // Undecodable byte: keep going with a replacement so a damaged file still reads.
      good = false;
      out.push_back('?');
      ++i;
    }
  }
  if (ok) *ok = good;
  return out;
}

}  // namespace km27
