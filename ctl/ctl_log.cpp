#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "ctl/ctl_commands.h"
#include "ctl/ctl_texts.h"
#include "km27_version.h"
#include "store/file_io.h"

// The transfer log from the command line: each transfer's record, and reading them back.
namespace km27::ctl {

namespace {

// The log rotates at 10 MB; a file far above that is no log of ours.
constexpr size_t kLargestLog = size_t(64) << 20;

std::string LogPath(const Options& o) { return o.logFile.empty() ? DefaultTransferLogPath() : o.logFile; }

// The result of a command that ended before it could say one: the device was never reached.
const char* ResultOfExit(int exitCode) {
  if (exitCode > kExitSignalBase) return "interrupted";
  switch (exitCode) {
    case kExitOk: return "ok";
    case kExitMismatch: return "verify_mismatch";
    case kExitReadBack: return "readback_failed";
    case kExitFile:
    case kExitNoDevice: return "refused";
    default: return "transfer_failed";
  }
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = int(y - era * 400);
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "2026-12-08", "2026-12-08T13:45", "2026-12-08T13:45:02.5+08:00", "...Z" as seconds since
// 1970 (UTC). Without a UTC offset the time is the local one; a date alone is its day's start.
bool ParseTime(const std::string& text, long long* seconds) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10) return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31) return false;
  size_t i = 10;
  if (i < text.size()) {
    if (text[i] != 'T' && text[i] != ' ') return false;
    int n = 0;
    if (std::sscanf(text.c_str() + i + 1, "%2d:%2d%n", &h, &mi, &n) != 2 || n != 5) return false;
    i += 1 + size_t(n);
    if (i < text.size() && text[i] == ':') {
      if (std::sscanf(text.c_str() + i + 1, "%2d%n", &sec, &n) != 1 || n != 2) return false;
      i += 3;
      if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9';) ++i;
    }
  }
  if (i < text.size()) {
    long long offset = 0;
    if (text.compare(i, std::string::npos, "Z") != 0) {
      int oh = 0, om = 0, n = 0;
      const char sign = text[i];
      if ((sign != '+' && sign != '-') || std::sscanf(text.c_str() + i + 1, "%2d:%2d%n", &oh, &om, &n) != 2 ||
          i + 1 + size_t(n) != text.size())
        return false;
      offset = (sign == '-' ? -1 : 1) * (oh * 3600LL + om * 60LL);
    }
    *seconds = DaysFromCivil(y, mo, d) * 86400 + h * 3600LL + mi * 60LL + sec - offset;
    return true;
  }
  std::tm local{};
  local.tm_year = y - 1900;
  local.tm_mon = mo - 1;
  local.tm_mday = d;
  local.tm_hour = h;
  local.tm_min = mi;
  local.tm_sec = sec;
  local.tm_isdst = -1;
  const std::time_t t = std::mktime(&local);
  if (t == std::time_t(-1)) return false;
  *seconds = static_cast<long long>(t);
  return true;
}

// `text` padded to `width` terminal columns (a CJK character takes two).
std::string Cell(const std::string& text, size_t width) {
  size_t columns = 0;
  for (unsigned char c : text)
    if (c < 0x80) ++columns;
    else if ((c & 0xC0) != 0x80) columns += 2;
  return text + std::string(columns < width ? width - columns : 1, ' ');
}

}  // namespace

void LogTransfer(const Options& o, int exitCode, TransferRecord& record, Output& out) {
  if (o.noLog) return;
  const std::string path = LogPath(o);
  record.program = "km27ctl";
  record.version = KM27_VERSION;
  record.result = out.ResultWord().empty() ? ResultOfExit(exitCode) : out.ResultWord();
  record.error = out.ErrorCode(exitCode);
  StampRecord(record);
  const SaveResult saved = AppendTransferRecord(path, record);
  if (!saved.ok)
    out.Warning(Words(Say::kLogNotWritten, {saved.path.empty() ? path : saved.path, StoreErrorText(saved.failure)}));
}

int ShowTransferLog(const Options& o, Output& out) {
  const std::string path = LogPath(o);
  long long since = 0;
  if (!o.since.empty() && !ParseTime(o.since, &since)) {
    out.Error(Words(Say::kBadSince, {o.since}));
    return kExitUsage;
  }
  // No log yet is no transfer yet; a log that is there but cannot be read is an error.
  if (PathExists(path)) {
    const ReadResult readable = ReadFileBytes(path, kLargestLog);
    if (!readable.ok) {
      out.Error(Words(Say::kCannotReadLog, {path, StoreErrorText(readable.failure)}), ErrorCodeFor(readable.failure));
      return kExitFile;
    }
  }
  out.Result().Add("log", path);
  if (out.Json()) out.LinesInsteadOfObject();
  else out.Line(Cell(Words(Say::kLogTime), 26) + Cell(Words(Say::kLogAction), 9) + Cell(Words(Say::kLogModel), 6) +
                Cell(Words(Say::kLogPort), 6) + Cell(Words(Say::kLogResult), 16) +
                Cell(Words(Say::kLogFingerprint), 13) + Words(Say::kLogFile));
  for (const TransferRecord& r : ReadTransferLog(path)) {
    if (o.modelGiven && r.model != ModelName(o.model)) continue;
    long long at = 0;
    if (!o.since.empty() && (!ParseTime(r.time, &at) || at < since)) continue;
    if (out.Json()) {
      out.Line(RecordLine(r));
      continue;
    }
    out.Line(Cell(r.time, 26) + Cell(r.action, 9) + Cell(r.model, 6) +
             Cell(r.com > 0 ? "COM" + std::to_string(r.com) : "-", 6) + Cell(r.result, 16) +
             Cell(r.programmeSha256.empty() ? "-" : r.programmeSha256.substr(0, 12), 13) +
             (r.file.empty() ? "-" : r.file));
  }
  return kExitOk;
}

}  // namespace km27::ctl
