#include "store/param_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "model/messages.h"
#include "model/status_texts.h"
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
  if (ParamFileProblem(data, size).Failed()) return false;
  std::memcpy(options.bytes.data(), data + kParamHeaderSize, kOptionsBytes);
  std::memcpy(table.bytes.data(), data + kParamHeaderSize + kOptionsBytes, kTableBytes);
  return true;
}

bool LoadParamFile(const std::string& path, ParamOptions& options, ParamTable& table) {
  // One byte more than a valid file holds is enough to tell a longer file apart.
  const ReadResult f = ReadFileBytes(path, kParamFileSize + 1);
  return f.ok && ParseParamFileImage(reinterpret_cast<const uint8_t*>(f.bytes.data()), f.bytes.size(), options, table);
}

namespace {
StoreFailure SizeProblem(size_t size) {
  StoreFailure f;
  f.code = StoreError::kWrongSize;
  f.detail.number = static_cast<long long>(size);
  return f;
}
StoreFailure SizeProblem(const ReadResult& f) {
  if (f.sizeUnreported) return {StoreError::kOverSize, 0, {}};
  return SizeProblem(f.fileSize);
}
}  // namespace

StoreFailure ParamFileProblem(const uint8_t* data, size_t size) {
  if (size != kParamFileSize) return SizeProblem(size);
  if (!FieldEquals(data, kMakerFieldSize, MakerGbk())) return {StoreError::kWrongMaker, 0, {}};
  if (!FieldEquals(data + kMakerFieldSize, kVersionFieldSize, text::kFileVersion))
    return {StoreError::kWrongVersion, 0, {}};
  return {};
}

namespace {

// Files bigger than this are not copied into memory to be kept; they are left alone instead.
constexpr size_t kLargestKeptFile = size_t(64) << 20;

std::string KeptName(const std::string& path, const char* tag, time_t now, int n) {
  tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string name = path + "." + tag + "-" + stamp;
  if (n > 1) name += "-" + std::to_string(n);
  return name;
}

// The bytes under a name of its own that no earlier copy has; r.path is the copy on success.
SaveResult KeepBeside(const std::string& path, const char* tag, const void* data, size_t size, time_t now) {
  for (int n = 1; n < 1000; ++n) {
    const std::string name = KeptName(path, tag, now, n);
    bool created = false;
    SaveResult s = WriteFileAtomically(name, data, size, ExistingFile::kKeep, &created);
    if (!s.ok || created) return s;
  }
  SaveResult s;
  s.path = path;
  s.failure.code = StoreError::kTooManyCopies;
  return s;
}

void KeepAside(const std::string& bytes, ParamFileStart& r, time_t now) {
  const SaveResult s = KeepBeside(r.path, "unreadable", bytes.data(), bytes.size(), now);
  if (s.ok)
    r.keptAs = s.path;
  else
    r.keepFailure = s.failure;
}

}  // namespace

ParamFileRead ReadParamFile(const std::string& path) {
  ParamFileRead r;
  // A file longer than a valid one is refused by its size alone, unread.
  const ReadResult f = ReadFileBytes(path, kParamFileSize);
  if (!f.ok) {
    r.failure = f.tooLarge ? SizeProblem(f) : f.failure;
    return r;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(f.bytes.data());
  r.failure = ParamFileProblem(bytes, f.bytes.size());
  r.ok = !r.failure.Failed() && ParseParamFileImage(bytes, f.bytes.size(), r.programme.options, r.programme.table);
  return r;
}

ParamFileStart LoadParamFileAtStart(const std::string& path, ParamOptions& options, ParamTable& table, time_t now) {
  ParamFileStart r;
  r.path = AbsolutePath(path);
  const ReadResult f = ReadFileBytes(path, kLargestKeptFile);
  if (!f.ok && !f.tooLarge) {
    r.kind = f.failure.sysError == ENOENT ? ParamFileStart::kMissing : ParamFileStart::kUnopenable;
    if (f.failure.sysError != ENOENT) r.failure = f.failure;
    return r;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(f.bytes.data());
  if (ParseParamFileImage(bytes, f.bytes.size(), options, table)) {
    r.kind = ParamFileStart::kLoaded;
    return r;
  }
  r.kind = ParamFileStart::kUnreadable;
  if (f.tooLarge) {
    r.failure = SizeProblem(f);
    r.keepFailure = f.failure;
    return r;
  }
  r.failure = ParamFileProblem(bytes, f.bytes.size());
  KeepAside(f.bytes, r, now);
  return r;
}

std::string ParamFileStart::Message() const {
  const std::string reason = StoreErrorText(failure);
  switch (kind) {
    case kLoaded:
    case kMissing: return {};
    case kUnopenable: return Text(Msg::kParamFileUnopenable, {path, reason});
    case kUnreadable:
      if (!keptAs.empty()) return Text(Msg::kParamFileKeptAside, {path, reason, keptAs});
      return Text(Msg::kParamFileNotKept, {path, reason, StoreErrorText(keepFailure)});
  }
  return {};
}

SaveResult SaveParamFile(const std::string& path, const ParamOptions& options, const ParamTable& table) {
  const auto image = BuildParamFileImage(options, table);
  return WriteFileAtomically(path, image.data(), image.size());
}

SaveResult SaveParamFileBeside(const std::string& path, const ParamOptions& options, const ParamTable& table,
                                time_t now) {
  const auto image = BuildParamFileImage(options, table);
  return KeepBeside(AbsolutePath(path), "unsaved", image.data(), image.size(), now);
}

}  // namespace km27
