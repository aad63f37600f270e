#pragma once
#include <string>
#include <vector>

#include "model/transfer_texts.h"
#include "store/file_io.h"

// Every transfer, whatever its end, as one JSON object per line in transfers.jsonl: which
// programme went into which device, when, by whom, and whether it was proven. Shared by the
// window and km27ctl; two programs may append at once.
namespace km27 {

struct TransferRecord {
  std::string time;     // ISO 8601 with the UTC offset, "2026-12-08T13:45:02+08:00"
  std::string program;  // "km27param" or "km27ctl"
  std::string version;
  std::string user;
  std::string host;
  std::string action;  // "download", "upload" or "verify"
  std::string model;   // "KM27A" or "KM27C"
  int com = 0;         // 0: not known (no device was found)
  std::string device;  // what COM n stands for: a path or a URL
  std::string file;    // the programme file, absolute; empty when there is none
  std::string programmeSha256;   // ProgrammeFingerprint; empty when no programme was at hand
  std::string deviceInfoSha256;  // the code transmitter's 96 values of device information
  // ok, refused, transfer_failed, verify_mismatch, readback_failed, interrupted (a cancelled
  // transfer is interrupted)
  std::string result;
  std::string error;        // why it did not go well, where there is a why
  bool verified = false;    // the device was read back and holds the programme
  std::string differences;  // DifferencesJsonText of a mismatch; empty otherwise
};

// A read-back's differing items as a JSON array: the same form in the log and in km27ctl
// --json. Steps: {"carrier":"650 Hz","step":4,"sent":{"code":1,"seconds":8},"read":{...}};
// other bytes: {"byte":N,"sent":S,"read":R[,"carrier":...]}.
std::string DifferencesJsonText(const VerifyDifference& d);

inline constexpr const char kLogVariable[] = "KM27_LOG";
inline constexpr long long kLogRotateBytes = 10 * 1024 * 1024;

// $KM27_LOG, else $XDG_STATE_HOME/km27param/transfers.jsonl (usually
// ~/.local/state/km27param/transfers.jsonl), on Windows %LOCALAPPDATA%\km27param\transfers.jsonl.
std::string DefaultTransferLogPath();

// Fills in the time (now, with the local UTC offset), the user and the host where empty.
void StampRecord(TransferRecord& r);

std::string RecordLine(const TransferRecord& r);  // one JSON object, no line end
bool ParseRecordLine(const std::string& line, TransferRecord* r);  // false: no record

// Appends the record as one whole line: the folder made where missing, the file opened for
// appending, one write, then flushed to the disk. At 10 MB the file first becomes
// transfers.jsonl.1, under a lock, so that two writers never rotate twice or lose a line.
// Never throws; the failure says why (the caller reports it once and goes on).
// `rotateAt`: the size that starts a new file (tests make it small).
SaveResult AppendTransferRecord(const std::string& path, const TransferRecord& r, long long rotateAt = kLogRotateBytes);

// The records of `path` and of its rotated predecessor, oldest first. Lines that are no
// record (cut short by a crash, written by hand) are skipped.
std::vector<TransferRecord> ReadTransferLog(const std::string& path);

}  // namespace km27
