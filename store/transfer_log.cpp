#include "store/transfer_log.h"

#include <nlohmann/json.hpp>

#include "model/code_catalogue.h"

namespace km27 {

namespace {

using Json = nlohmann::ordered_json;  // the fields in the order a person reads them

Json Step(const ParamEntry& e) { return Json{{"code", int(e.code)}, {"seconds", int(e.seconds)}}; }

std::string Text(const Json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A file the operator edits by hand or a crash cut short is no reason to stop reading.
constexpr size_t kReadLimit = size_t(4) * kLogRotateBytes;

void ReadInto(const std::string& path, std::vector<TransferRecord>& out) {
  const ReadResult read = ReadFileBytes(path, kReadLimit);
  if (!read.ok) return;
  const std::string& text = read.bytes;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    TransferRecord r;
    if (ParseRecordLine(text.substr(start, end - start), &r)) out.push_back(std::move(r));
    start = end + 1;
  }
}

}  // namespace

std::string DifferencesJsonText(const VerifyDifference& d) {
  Json list = Json::array();
  for (const DifferenceItem& item : d.items) {
    Json j;
    if (item.where == DifferenceItem::kStep) {
      j["carrier"] = Carrier(item.carrier).caption;
      j["step"] = item.step;
      j["sent"] = Step(item.sentStep);
      j["read"] = Step(item.readStep);
    } else {
      j["byte"] = static_cast<long long>(item.offset);
      j["sent"] = int(item.sent);
      j["read"] = int(item.read);
      if (item.carrier >= 0) j["carrier"] = Carrier(item.carrier).caption;
    }
    list.push_back(std::move(j));
  }
  return list.dump();
}

std::string RecordLine(const TransferRecord& r) {
  Json j;
  j["time"] = r.time;
  j["program"] = r.program;
  j["version"] = r.version;
  j["user"] = r.user;
  j["host"] = r.host;
  j["action"] = r.action;
  j["model"] = r.model;
  j["com"] = r.com;
  j["device"] = r.device;
  if (!r.file.empty()) j["file"] = r.file;
  j["programme_sha256"] = r.programmeSha256;
  if (!r.deviceInfoSha256.empty()) j["device_info_sha256"] = r.deviceInfoSha256;
  j["result"] = r.result;
  if (!r.error.empty()) j["error"] = r.error;
  j["verified"] = r.verified;
  if (!r.differences.empty()) j["differences"] = Json::parse(r.differences, nullptr, false);
  // Names and reasons come from the system and the operator: bytes that are no UTF-8 are
  // replaced rather than lose the record.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool ParseRecordLine(const std::string& line, TransferRecord* r) {
  const Json j = Json::parse(line, nullptr, false);
  if (!j.is_object() || !j.contains("time") || !j.contains("action") || !j.contains("result")) return false;
  TransferRecord out;
  out.time = Text(j, "time");
  out.program = Text(j, "program");
  out.version = Text(j, "version");
  out.user = Text(j, "user");
  out.host = Text(j, "host");
  out.action = Text(j, "action");
  out.model = Text(j, "model");
  if (const auto com = j.find("com"); com != j.end() && com->is_number_integer()) out.com = com->get<int>();
  out.device = Text(j, "device");
  out.file = Text(j, "file");
  out.programmeSha256 = Text(j, "programme_sha256");
  out.deviceInfoSha256 = Text(j, "device_info_sha256");
  out.result = Text(j, "result");
  out.error = Text(j, "error");
  if (const auto v = j.find("verified"); v != j.end() && v->is_boolean()) out.verified = v->get<bool>();
  if (const auto d = j.find("differences"); d != j.end() && d->is_array()) out.differences = d->dump();
  if (out.time.empty() || out.action.empty() || out.result.empty()) return false;
  *r = std::move(out);
  return true;
}

std::vector<TransferRecord> ReadTransferLog(const std::string& path) {
  std::vector<TransferRecord> records;
  ReadInto(path + ".1", records);
  ReadInto(path, records);
  return records;
}

}  // namespace km27
