#pragma once
#include <optional>
#include <string>

#include "link/link_timing.h"
#include "model/device_model.h"
#include "model/messages.h"

// km27ctl's command line: what the operator asked for, and the exit codes a script acts on.
namespace km27::ctl {

enum ExitCode {
  kExitOk = 0,
  kExitOther = 1,       // the system refused something the tool needs (a thread, a pipe)
  kExitUsage = 2,
  kExitFile = 3,        // a file could not be read, is no programme file, or could not be written
  kExitNoDevice = 4,    // no lower machine answered, or the port given is not usable
  kExitTransfer = 5,    // a download was not acknowledged, or an upload did not arrive whole
  kExitMismatch = 6,    // the device holds something else than was sent / than the file
  kExitReadBack = 7,    // the device could not be read back for the comparison
  kExitOutput = 8,      // standard output could not be written (a full disk, a closed pipe)
  kExitSignalBase = 128,  // + the signal's number: 130 for Ctrl+C
};

enum class Command { kNone, kPorts, kProbe, kDownload, kUpload, kVerify, kShow, kLog, kDiff };

struct Options {
  Command command = Command::kNone;
  std::string file;
  std::string otherFile;  // diff: the second programme file
  bool modelGiven = false;
  DeviceModel model = CodeTransmitter;
  int com = 0;          // --com N; 0 = not given
  std::string device;   // --device PATH or URL (with --net-allowance MS put into the URL)
  bool verify = true;   // off with --no-verify
  bool force = false;
  LinkTiming timing;    // every delay of both links: the lower machines' own, unless a test scales it
  // The transfer log: --log FILE, else $KM27_LOG, else the user's own; none with --no-log.
  std::string logFile;
  bool noLog = false;
  std::string since;  // log --since: YYYY-MM-DD or an ISO time
  bool json = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

struct ParsedCommandLine {
  Options options;
  std::string error;  // why the command line is not usable; empty when it is
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// The language --lang asks for (the last usable one), looked at before anything is parsed so
// that even the first complaint is in it.
std::optional<Language> LanguageAsked(int argc, const char* const* argv);

std::string UsageText();
std::string VersionText();

// "KM27A" / "KM27C", and the machine's full name in the chosen language.
const char* ModelName(DeviceModel model);
std::string ModelTitle(DeviceModel model);
// The COM numbers a model is looked for on (the window's ranges).
int LastComPort(DeviceModel model);

}  // namespace km27::ctl
