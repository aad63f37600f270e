#include "ctl/ctl_output.h"

#include <cerrno>
#include <cstdio>

#include "ctl/ctl_options.h"
#include "ctl/ctl_system.h"
#include "ctl/ctl_texts.h"
#include "store/file_io.h"
#include "store/gbk.h"

namespace km27::ctl {

namespace {

constexpr int kBarWidth = 20;


}  // namespace

std::string JsonObject::Quote(const std::string& utf8) {
  std::string q = "\"";
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    char esc[8];
    switch (c) {
      case '"': q += "\\\""; break;
      case '\\': q += "\\\\"; break;
      case '\n': q += "\\n"; break;
      case '\r': q += "\\r"; break;
      case '\t': q += "\\t"; break;
      default:
        if (c < 0x20) {
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          q += esc;
        } else if (const size_t n = Utf8SequenceAt(utf8, i); n > 0) {
          q.append(utf8, i, n);
          i += n;
          continue;
        } else {
          // A file name need not be UTF-8; JSON must be. The byte is kept readable as the text
          // \xNN, so a script can still tell which name it was.
          std::snprintf(esc, sizeof esc, "\\\\x%02x", c);
          q += esc;
        }
    }
    ++i;
  }
  return q + "\"";
}

JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json) {
  if (!body_.empty()) body_ += ",";
  body_ += Quote(key) + ":" + json;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) { return AddRaw(key, Quote(value)); }
JsonObject& JsonObject::Add(const std::string& key, long long value) { return AddRaw(key, std::to_string(value)); }
JsonObject& JsonObject::Add(const std::string& key, bool value) { return AddRaw(key, value ? "true" : "false"); }

JsonObject& JsonObject::Add(const std::string& key, const std::vector<JsonObject>& values) {
  std::string a = "[";
  for (size_t i = 0; i < values.size(); ++i) a += (i ? "," : "") + values[i].Text();
  return AddRaw(key, a + "]");
}

JsonObject& JsonObject::Add(const std::string& key, const std::vector<std::string>& values) {
  std::string a = "[";
  for (size_t i = 0; i < values.size(); ++i) a += (i ? "," : "") + Quote(values[i]);
  return AddRaw(key, a + "]");
}

const char* ErrorCodeFor(int exitCode) {
  switch (exitCode) {
    case kExitUsage: return "usage";
    case kExitFile: return "file_invalid";
    case kExitNoDevice: return "no_device";
    case kExitTransfer: return "transfer_failed";
    case kExitMismatch: return "verify_mismatch";
    case kExitReadBack: return "readback_failed";
    case kExitOutput: return "output_failed";
    default: return exitCode > kExitSignalBase ? "interrupted" : "system";
  }
}

const char* ErrorCodeFor(const StoreFailure& failure) {
  switch (failure.code) {
    case StoreError::kNone:
    case StoreError::kNotFound:
    case StoreError::kCannotOpen:
    case StoreError::kNotRegularFile:
    case StoreError::kTooLarge:
    case StoreError::kTooLargeUnsized:
    case StoreError::kCannotRead:
    case StoreError::kPathTooLong: return "file_unreadable";
    case StoreError::kNotReplaceable:
    case StoreError::kReadOnly:
    case StoreError::kCannotCreate:
    case StoreError::kCannotWrite:
    case StoreError::kCannotLink:
    case StoreError::kCannotReplace:
    case StoreError::kSavePathTooLong:
    case StoreError::kTooManyCopies:
    case StoreError::kNotGbk:
    case StoreError::kUnreadableAtStart: return "file_unwritable";
    default: return "file_invalid";  // what the file holds
  }
}

std::string TransferName(TransferKind kind) {
  switch (kind) {
    case TransferKind::kDownload: return Words(Say::kProgressDownload);
    case TransferKind::kUpload: return Words(Say::kProgressUpload);
    case TransferKind::kReadBack: return Words(Say::kProgressReadBack);
    case TransferKind::kDeviceInfo: return Words(Say::kProgressDeviceInfo);
  }
  return "";
}

Output::Output(bool json, bool quiet, FILE* out, FILE* err)
    : json_(json), quiet_(quiet), tty_(IsTerminal(err)), out_(out), err_(err) {}

void Output::Line(const std::string& text) {
  if (json_ && !noObject_) return;
  EndProgress();
  WriteText(out_, text + "\n");
  std::fflush(out_);
}

void Output::Error(const std::string& text, const char* code) {
  if (error_.empty()) {
    error_ = text;
    errorCode_ = code ? code : "";
  }
  if (json_) return;
  EndProgress();
  WriteText(err_, "km27ctl: " + text + "\n");
}

void Output::Message(const std::string& text) {
  messages_.push_back(text);
  if (json_ || quiet_) return;
  EndProgress();
  WriteText(err_, text + "\n");
}

JsonObject& Output::SetResult(const std::string& word) {
  resultWord_ = word;
  return result_.Add("result", word);
}

std::string Output::ErrorCode(int exitCode) const {
  if (!errorCode_.empty()) return errorCode_;
  if (!error_.empty() || exitCode != kExitOk) return ErrorCodeFor(exitCode);
  return {};
}

void Output::Warning(const std::string& text) {
  messages_.push_back(text);
  EndProgress();
  WriteText(err_, "km27ctl: " + text + "\n");
}

void Output::Note(const std::string& text) {
  if (quiet_) return;
  EndProgress();
  WriteText(err_, text + "\n");
}

void Output::Progress(const TransferProgress& p) {
  if (quiet_) return;
  const std::string counts = p.attempt > 1 ? Words(Say::kProgressRetry, {p.done, p.total, p.attempt - 1})
                                           : std::to_string(p.done) + "/" + std::to_string(p.total);
  if (!tty_) {
    // One line for each change, so that a log shows how far it came.
    const std::string line = TransferName(p.kind) + " " + counts;
    if (line == lastProgress_) return;
    lastProgress_ = line;
    WriteText(err_, line + "\n");
    std::fflush(err_);
    return;
  }
  const int filled = p.total > 0 ? p.done * kBarWidth / p.total : 0;
  std::string bar(size_t(filled), '#');
  bar.append(size_t(kBarWidth - filled), '.');
  WriteText(err_, "\r\033[K" + TransferName(p.kind) + " [" + bar + "] " + counts);
  std::fflush(err_);
  barShown_ = true;
}

void Output::EndProgress() {
  if (!barShown_) return;
  WriteText(err_, "\n");
  barShown_ = false;
}

int Output::Finish(int exitCode) {
  EndProgress();
  if (json_ && !(noObject_ && error_.empty())) {
    result_.Add("ok", exitCode == 0).Add("exit_code", exitCode);
    if (!error_.empty()) {
      JsonObject e;
      e.Add("code", errorCode_.empty() ? ErrorCodeFor(exitCode) : errorCode_).Add("message", error_);
      result_.Add("error", e);
    }
    result_.Add("messages", messages_);
    WriteText(out_, result_.Text() + "\n");
  }
  return Finished(exitCode, out_, err_);
}

int Output::Finished(int exitCode, FILE* out, FILE* err) {
  // The error flag stays set from any earlier failed write, so a line lost halfway counts too.
  const bool flushFailed = std::fflush(out) != 0;
  const int why = errno;
  if (flushFailed || std::ferror(out)) {
    const std::string told =
        flushFailed ? Words(Say::kOutputFailedWhy, {SystemErrorText(why)}) : Words(Say::kOutputFailed);
    WriteText(err, "km27ctl: " + told + "\n");
    // A failure of the work itself says more than the lost output; only a success changes.
    if (exitCode == 0) exitCode = kExitOutput;
  }
  std::fflush(err);
  return exitCode;
}

}  // namespace km27::ctl
