#include "store/param_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "model/status_texts.h"
#include "store/file_size_signal.h"
#include "store/gbk.h"

namespace km27 {

namespace {

const std::string& MakerGbk() {
  static const std::string gbk = Utf8ToGbk(text::kMaker);
  return gbk;
}

// Text of a fixed field up to its first zero; a field with no zero cannot match any text.
bool FieldEquals(const uint8_t* field, size_t width, const std::string& expected) {
  const void* zero = std::memchr(field, 0, width);
  if (!zero) return false;
  const size_t len = size_t(static_cast<const uint8_t*>(zero) - field);
  return len == expected.size() && std::memcmp(field, expected.data(), len) == 0;
}

std::string Reason(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr const char kTempMarker[] = ".tmp-";

// A save killed between creating and renaming its temporary file leaves it behind; such
// leftovers never hold the only copy of anything, so they are removed at the next save.
void RemoveLeftovers(const std::string& dir, const std::string& base, const std::string& keep) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  const std::string prefix = base + kTempMarker;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) == 0 && name != keep) unlinkat(dirfd(d), name.c_str(), 0);
  }
  closedir(d);
}

bool WriteAll(int fd, const uint8_t* data, size_t n, int* err) {
  const HoldFileSizeSignal held;
  while (n > 0) {
    ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    data += w;
    n -= size_t(w);
  }
  return true;
}

}  // namespace

std::array<uint8_t, kParamFileSize> BuildParamFileImage(const ParamOptions& options, const ParamTable& table) {
  std::array<uint8_t, kParamFileSize> image{};
  const std::string& maker = MakerGbk();
  std::memcpy(image.data(), maker.data(), std::min(maker.size(), kMakerFieldSize - 1));
  std::memcpy(image.data() + kMakerFieldSize, text::kFileVersion, std::strlen(text::kFileVersion));
  std::memcpy(image.data() + kParamHeaderSize, options.bytes.data(), kOptionsBytes);
  std::memcpy(image.data() + kParamHeaderSize + kOptionsBytes, table.bytes.data(), kTableBytes);
  return image;
}

bool ParseParamFileImage(const uint8_t* data, size_t size, ParamOptions& options, ParamTable& table) {
  if (size != kParamFileSize) return false;
  if (!FieldEquals(data, kMakerFieldSize, MakerGbk())) return false;
  if (!FieldEquals(data + kMakerFieldSize, kVersionFieldSize, text::kFileVersion)) return false;
  std::memcpy(options.bytes.data(), data + kParamHeaderSize, kOptionsBytes);
  std::memcpy(table.bytes.data(), data + kParamHeaderSize + kOptionsBytes, kTableBytes);
  return true;
}

bool LoadParamFile(const std::string& path, ParamOptions& options, ParamTable& table) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  // Read one byte more than a valid file holds, so a longer file is told apart.
  std::vector<uint8_t> data(kParamFileSize + 1);
  const size_t n = std::fread(data.data(), 1, data.size(), f);
  std::fclose(f);
  return ParseParamFileImage(data.data(), n, options, table);
}

SaveResult SaveParamFile(const std::string& path, const ParamOptions& options, const ParamTable& table) {
  SaveResult result;
  result.path = path;
  const auto image = BuildParamFileImage(options, table);
  const std::string dir = DirectoryOf(path);
  const std::string base = BaseName(path);

  std::string tmpl = dir + "/" + base + kTempMarker + "XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    result.reason = Reason("无法在该文件夹中建立文件", errno);
    return result;
  }
  const std::string tmpPath = name.data();
  int err = 0;
  bool ok = WriteAll(fd, image.data(), image.size(), &err);
  if (ok && ::fsync(fd) != 0) {
    err = errno;
    ok = false;
  }
  if (ok) {
    // mkstemp creates 0600; give the file the usual permissions of a new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  if (::close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(tmpPath.c_str());
    result.reason = Reason("无法写入文件", err);
    return result;
  }
  if (::rename(tmpPath.c_str(), path.c_str()) != 0) {
    err = errno;
    ::unlink(tmpPath.c_str());
    result.reason = Reason("无法替换原文件", err);
    return result;
  }
  // Make the rename itself durable.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  RemoveLeftovers(dir, base, BaseName(tmpPath));
  result.ok = true;
  return result;
}

}  // namespace km27
