#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "link/link_observer.h"
#include "store/store_error.h"

// Where km27ctl's words go: results on standard output (plain lines, or one JSON object per
// command with --json), progress and the operator's messages on standard error.
namespace km27::ctl {

// A JSON object written as it is built; values are UTF-8.
class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
  JsonObject& Add(const std::string& key, long long value);
  JsonObject& Add(const std::string& key, int value) { return Add(key, static_cast<long long>(value)); }
  JsonObject& Add(const std::string& key, bool value);
  JsonObject& Add(const std::string& key, const JsonObject& value) { return AddRaw(key, value.Text()); }
  JsonObject& Add(const std::string& key, const std::vector<JsonObject>& values);
  JsonObject& Add(const std::string& key, const std::vector<std::string>& values);
  // `json` is already JSON text (as the transfer log holds it), embedded as it is.
  JsonObject& AddRaw(const std::string& key, const std::string& json);
  std::string Text() const { return "{" + body_ + "}"; }

  static std::string Quote(const std::string& utf8);

 private:
  std::string body_;
};

class Output {
 public:
  Output(bool json, bool quiet, FILE* out = stdout, FILE* err = stderr);

  bool Json() const { return json_; }
  JsonObject& Result() { return result_; }
  // The outcome's word (ok, refused, transfer_failed, verify_mismatch, readback_failed,
  // interrupted) into the result; kept for the transfer log.
  JsonObject& SetResult(const std::string& word);
  const std::string& ResultWord() const { return resultWord_; }
  // The failure's name as --json gives it; empty when nothing failed.
  std::string ErrorCode(int exitCode) const;

  // A line of the result (plain output only, or the lines that replace the JSON object).
  void Line(const std::string& text);
  // Why the command failed: on standard error, or as "error" in the JSON object.
  // `code`: the failure's stable name for scripts (see ErrorCodeFor); without one it follows
  // from the exit code.
  void Error(const std::string& text, const char* code = nullptr);
  // What the window would show in a message box.
  void Message(const std::string& text);
  // Something went wrong beside the work, which goes on (the transfer log): standard error
  // even when quiet, and "messages" in the JSON object.
  void Warning(const std::string& text);
  // With --json: the lines written instead of the one object; an error still writes it.
  void LinesInsteadOfObject() { noObject_ = true; }
  // A note while working (searching, a file that is missing): standard error unless quiet.
  void Note(const std::string& text);

  // A transfer's progress: a bar with block counts on a terminal, plain lines otherwise.
  void Progress(const TransferProgress& p);
  void EndProgress();

  // Writes the JSON object (with the exit code) and returns the code; a success whose output
  // could not be written becomes kExitOutput.
  int Finish(int exitCode);
  // The same for text written to `out` directly (--help, --version).
  static int Finished(int exitCode, FILE* out = stdout, FILE* err = stderr);

 private:
  bool json_;
  bool quiet_;
  bool tty_;
  FILE* out_;
  FILE* err_;
  JsonObject result_;
  std::vector<std::string> messages_;
  std::string error_;
  std::string errorCode_;
  std::string resultWord_;
  bool noObject_ = false;
  bool barShown_ = false;
  std::string lastProgress_;
};

// The failure's name for an exit code, where the command said no more precise one: "usage",
// "no_device", "transfer_failed", "verify_mismatch", "readback_failed", "interrupted", ...
const char* ErrorCodeFor(int exitCode);
// The name of a file's failure: "file_unreadable", "file_invalid" or "file_unwritable".
const char* ErrorCodeFor(const StoreFailure& failure);

// What a progress line is about: a download, an upload, a read-back.
std::string TransferName(TransferKind kind);

}  // namespace km27::ctl
