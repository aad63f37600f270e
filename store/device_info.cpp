#include "store/device_info.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "store/file_io.h"
#include "store/gbk.h"

namespace km27 {

namespace {

constexpr const char* kHeaders[kDeviceInfoRows] = {"//国内移频", "//UM71", "//ZPW2000", "//交流计数"};
constexpr char kLineEnd[] = "\r\n";
// Four lines of 24 values are a few hundred bytes; anything past this is no such file.
constexpr size_t kLargestDeviceInfoFile = size_t(1) << 20;

// atoi's reading (leading space, sign, digits) without its undefined overflow.
uint8_t FieldValue(const std::string& field) {
  long v = std::strtol(field.c_str(), nullptr, 10);
  return uint8_t(static_cast<unsigned long>(v) & 0xFFu);
}

size_t ParseValueLine(std::string line, uint8_t* row) {
  std::string packed;
  packed.reserve(line.size());
  for (char c : line)
    if (c != ' ') packed += c;
  line.clear();
  for (char c : packed)
    if (c != '\t') line += c;
  size_t start = 0;
  size_t stored = 0;
  while (stored < kDeviceInfoRowBytes && start + 1 <= line.size()) {
    size_t comma = line.find(',', start + 1);
    if (comma == std::string::npos) break;
    row[stored++] = FieldValue(line.substr(start, comma - start));
    start = comma + 1;
  }
  return stored;
}

}  // namespace

std::string DeviceInfoHeader(int family) {
  if (family < 0 || family >= int(kDeviceInfoRows)) return {};
  return kHeaders[family];
}

std::string DeviceInfoPath(const std::string& startDir) {
  std::string path = startDir;
  if (path.empty() || path.back() != '/') path += '/';
  path += kDeviceInfoFileName;
  if (path.size() + 1 > size_t(PATH_MAX)) return {};
  return path;
}

bool ParseDeviceInfo(const std::string& text, uint8_t* info96) {
  size_t row = 0;
  size_t pos = 0;
  bool whole = true;
  while (pos < text.size() && row < kDeviceInfoRows) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string::npos ? text.size() : lf;
    std::string line = text.substr(pos, end - pos);
    pos = lf == std::string::npos ? text.size() : lf + 1;
    if (line.find("//") != std::string::npos) continue;
    whole = ParseValueLine(line, info96 + row * kDeviceInfoRowBytes) == kDeviceInfoRowBytes && whole;
    ++row;
  }
  return whole && row == kDeviceInfoRows;
}

std::string FormatDeviceInfo(const uint8_t* info96) {
  std::string out;
  for (size_t r = 0; r < kDeviceInfoRows; ++r) {
    out += Utf8ToGbk(DeviceInfoHeader(int(r)));
    out += kLineEnd;
    for (size_t i = 0; i < kDeviceInfoRowBytes; ++i) out += std::to_string(info96[r * kDeviceInfoRowBytes + i]) + ",";
    out += kLineEnd;
  }
  return out;
}

DeviceInfoLoad LoadDeviceInfo(const std::string& startDir, DeviceInfo& info) {
  info.fill(0);
  DeviceInfoLoad r;
  r.path = DeviceInfoPath(startDir);
  if (r.path.empty()) {
    r.path = PathIn(startDir, kDeviceInfoFileName);
    r.kind = DeviceInfoLoad::kUnreadable;
    r.failure = {StoreError::kPathTooLong, ENAMETOOLONG, {}};
    return r;
  }
  // Read as bytes through the one reader: a folder of that name is a failed read, not an
  // exception out of a stream.
  const ReadResult f = ReadFileBytes(r.path, kLargestDeviceInfoFile);
  if (!f.ok) {
    r.kind = f.failure.sysError == ENOENT ? DeviceInfoLoad::kMissing : DeviceInfoLoad::kUnreadable;
    r.failure = f.failure.sysError == ENOENT ? StoreFailure{StoreError::kNotFound, ENOENT, {}} : f.failure;
    return r;
  }
  if (!ParseDeviceInfo(f.bytes, info.data())) {
    r.kind = DeviceInfoLoad::kIncomplete;
    r.failure.code = StoreError::kIncomplete;
    return r;
  }
  r.kind = DeviceInfoLoad::kLoaded;
  return r;
}

SaveResult SaveDeviceInfo(const std::string& startDir, const DeviceInfo& info) {
  const std::string path = DeviceInfoPath(startDir);
  if (path.empty()) {
    SaveResult r;
    r.path = PathIn(startDir, kDeviceInfoFileName);
    r.failure = {StoreError::kSavePathTooLong, ENAMETOOLONG, {}};
    return r;
  }
  const std::string text = FormatDeviceInfo(info.data());
  return WriteFileAtomically(path, text.data(), text.size());
}

}  // namespace km27
