#include "ctl/ctl_output.h"

#include <unistd.h>

#include <cstdio>

namespace km27::ctl {

namespace {
constexpr int kBarWidth = 20;
}

std::string JsonObject::Quote(const std::string& utf8) {
  std::string q = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': q += "\\\""; break;
      case '\\': q += "\\\\"; break;
      case '\n': q += "\\n"; break;
      case '\r': q += "\\r"; break;
      case '\t': q += "\\t"; break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          q += esc;
        } else {
          q += char(c);
        }
    }
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

const char* TransferName(TransferKind kind) {
  switch (kind) {
    case TransferKind::kDownload: return "下载";
    case TransferKind::kUpload: return "上传";
    case TransferKind::kReadBack: return "读回校验";
    case TransferKind::kDeviceInfo: return "读取设备信息";
  }
  return "";
}

Output::Output(bool json, bool quiet, FILE* out, FILE* err)
    : json_(json), quiet_(quiet), tty_(isatty(fileno(err)) == 1), out_(out), err_(err) {}

void Output::Line(const std::string& text) {
  if (json_) return;
  EndProgress();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void Output::Error(const std::string& text) {
  if (error_.empty()) error_ = text;
  if (json_) return;
  EndProgress();
  std::fprintf(err_, "km27ctl: %s\n", text.c_str());
}

void Output::Message(const std::string& text) {
  messages_.push_back(text);
  if (json_ || quiet_) return;
  EndProgress();
  std::fprintf(err_, "%s\n", text.c_str());
}

void Output::Note(const std::string& text) {
  if (quiet_) return;
  EndProgress();
  std::fprintf(err_, "%s\n", text.c_str());
}

void Output::Progress(const TransferProgress& p) {
  if (quiet_) return;
  std::string counts = std::to_string(p.done) + "/" + std::to_string(p.total);
  if (p.attempt > 1) counts += "（重试 " + std::to_string(p.attempt - 1) + "）";
  if (!tty_) {
    // One line for each change, so that a log shows how far it came.
    const std::string line = std::string(TransferName(p.kind)) + " " + counts;
    if (line == lastProgress_) return;
    lastProgress_ = line;
    std::fprintf(err_, "%s\n", line.c_str());
    std::fflush(err_);
    return;
  }
  const int filled = p.total > 0 ? p.done * kBarWidth / p.total : 0;
  std::string bar(size_t(filled), '#');
  bar.append(size_t(kBarWidth - filled), '.');
  std::fprintf(err_, "\r\033[K%s [%s] %s", TransferName(p.kind), bar.c_str(), counts.c_str());
  std::fflush(err_);
  barShown_ = true;
}

void Output::EndProgress() {
  if (!barShown_) return;
  std::fprintf(err_, "\n");
  barShown_ = false;
}

int Output::Finish(int exitCode) {
  EndProgress();
  if (json_) {
    result_.Add("ok", exitCode == 0).Add("exit_code", exitCode);
    if (!error_.empty()) result_.Add("error", error_);
    result_.Add("messages", messages_);
    std::fprintf(out_, "%s\n", result_.Text().c_str());
  }
  std::fflush(out_);
  std::fflush(err_);
  return exitCode;
}

}  // namespace km27::ctl
