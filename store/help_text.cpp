#include "store/help_text.h"

#include "store/file_io.h"
#include "store/gbk.h"

namespace km27 {

namespace {

std::string WithCrLf(const std::string& s) {
  std::string out;
  out.reserve(s.size() + s.size() / 16);
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

std::string HelpFileContent(const std::string& firstUtf8, const std::string& secondUtf8, bool* ok) {
  return WithCrLf(Utf8ToGbk(firstUtf8 + "\n" + secondUtf8 + "\n", ok));
}

HelpFileResult EnsureHelpFile(const std::string& path, const std::string& firstUtf8, const std::string& secondUtf8) {
  HelpFileResult r;
  if (PathExists(path)) {
    r.ok = true;
    return r;
  }
  bool converted = false;
  const std::string bytes = HelpFileContent(firstUtf8, secondUtf8, &converted);
  if (!converted) {
    r.failure.code = StoreError::kNotGbk;
    return r;
  }
  // Complete or not at all: a torn help file would be kept for good, as an existing one is.
  const SaveResult s = WriteFileAtomically(path, bytes.data(), bytes.size(), ExistingFile::kKeep, &r.created);
  r.ok = s.ok;
  r.failure = s.failure;
  return r;
}

HelpFileText ReadHelpFile(const std::string& path) {
  const ReadResult f = ReadFileBytes(path, kLargestHelpFile);
  return {f.ok, f.bytes, f.failure};
}

}  // namespace km27
