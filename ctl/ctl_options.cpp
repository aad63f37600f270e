#include "ctl/ctl_options.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ctl/ctl_texts.h"
#include "km27_version.h"
#include "link/device_models.h"
#include "port/net_url.h"

namespace km27::ctl {

namespace {

bool ParseModel(const std::string& text, DeviceModel& model) {
  const DeviceModelInfo* m = FindDeviceModel(text);
  if (m) model = m->model;
  return m != nullptr;
}

bool ParseCommand(const std::string& word, Command& command) {
  static const struct {
    const char* word;
    Command command;
  } kCommands[] = {{"ports", Command::kPorts},     {"probe", Command::kProbe}, {"download", Command::kDownload},
                   {"upload", Command::kUpload},   {"verify", Command::kVerify}, {"show", Command::kShow},
                   {"log", Command::kLog},         {"diff", Command::kDiff}};
  for (const auto& c : kCommands) {
    if (word == c.word) {
      command = c.command;
      return true;
    }
  }
  return false;
}

bool NeedsFile(Command c) {
  return c == Command::kDownload || c == Command::kUpload || c == Command::kVerify || c == Command::kShow ||
         c == Command::kDiff;
}

bool IsTransfer(Command c) { return c == Command::kDownload || c == Command::kUpload || c == Command::kVerify; }

std::string CheckComRange(const Options& o) {
  if (o.com == 0) return {};
  const int last = o.modelGiven ? LastComPort(o.model) : LastComOfAnyModel();
  if (o.com < 1 || o.com > last) {
    return o.modelGiven ? Words(Say::kComOutOfRangeOfModel, {o.com, ModelName(o.model), last})
                        : Words(Say::kComOutOfRange, {o.com, last});
  }
  return {};
}

// A network port given with --device: a usable URL, and one the model can work through.
std::string CheckDevice(Options& o, int allowanceMs) {
  if (!IsNetUrl(o.device)) return allowanceMs >= 0 ? Words(Say::kAllowanceOnlyForNetwork) : "";
  NetUrl url;
  if (const UrlProblem p = ParseNetUrl(o.device, &url); p != UrlProblem::None)
    return Words(Say::kBadUrl, {o.device, UrlProblemText(p)});
  // The code transmitter's opening changes the line's speed, which only the server can do.
  if (url.scheme == NetScheme::Tcp && o.modelGiven && IsCodeTransmitter(o.model))
    return Words(Say::kTcpKeepsSpeed, {ModelName(o.model), o.device.substr(6)});
  if (allowanceMs >= 0) o.device = o.device.substr(0, o.device.find('?')) + "?allowance=" + std::to_string(allowanceMs);
  return {};
}

}  // namespace

const char* ModelName(DeviceModel model) { return ModelInfo(model).name; }
std::string ModelTitle(DeviceModel model) { return DeviceModelTitle(model); }
int LastComPort(DeviceModel model) { return ModelInfo(model).lastCom; }

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  ParsedCommandLine r;
  Options& o = r.options;
  std::vector<std::string> words;
  int allowanceMs = -1;
  auto fail = [&r](std::string why) {
    if (r.error.empty()) r.error = std::move(why);
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string value;
    bool hasValue = false;
    if (a.compare(0, 2, "--") == 0) {
      const size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        hasValue = true;
      }
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      // "--model --json" is a forgotten value, not a model called "--json".
      if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0) {
        fail(Words(Say::kMissingValue, {a}));
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version" || a == "-V") {
      o.version = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--no-verify") {
      o.verify = false;
    } else if (a == "--no-log") {
      o.noLog = true;
    } else if (a == "--log" || a == "--since") {
      if (!takeValue()) continue;
      if (value.empty()) fail(Words(Say::kMissingValue, {a}));
      (a == "--log" ? o.logFile : o.since) = value;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--model") {
      if (!takeValue()) continue;
      if (ParseModel(value, o.model))
        o.modelGiven = true;
      else
        fail(Words(Say::kBadModel, {value}));
    } else if (a == "--com") {
      if (!takeValue()) continue;
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < 1 || n > 255)
        fail(Words(Say::kBadCom, {value}));
      else
        o.com = int(n);
    } else if (a == "--device") {
      if (!takeValue()) continue;
      if (value.empty())
        fail(Words(Say::kNoDevicePath));
      else
        o.device = value;
    } else if (a == "--lang") {
      // Already applied by LanguageAsked, before anything could be said; here only checked.
      if (!takeValue()) continue;
      if (!ParseLanguage(value)) fail(Words(Say::kBadLanguage, {value}));
    } else if (a == "--net-allowance") {
      if (!takeValue()) continue;
      char* end = nullptr;
      const long ms = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || ms < 0 || ms > 60000)
        fail(Words(Say::kBadAllowance, {value}));
      else
        allowanceMs = int(ms);
    } else if (a.size() > 1 && a[0] == '-') {
      fail(Words(Say::kUnknownOption, {a}));
    } else {
      words.push_back(a);
    }
  }
  if (o.help || o.version) return r;
  if (!r.error.empty()) return r;
  if (words.empty()) {
    fail(Words(Say::kNoCommand));
    return r;
  }
  const std::string& firstWord = words[0];
  if (!ParseCommand(firstWord, o.command)) {
    fail(Words(Say::kUnknownCommand, {firstWord}));
    return r;
  }
  const size_t allowed = o.command == Command::kDiff ? 3 : 2;
  if (words.size() > allowed) fail(Words(Say::kExtraArgument, {words[allowed]}));
  if (words.size() > 1) o.file = words[1];
  if (words.size() > 2) o.otherFile = words[2];
  if (o.command == Command::kDiff && o.otherFile.empty()) fail(Words(Say::kDiffNeedsTwoFiles));
  if (NeedsFile(o.command) && o.file.empty()) fail(Words(Say::kNeedsFile, {firstWord}));
  if (!NeedsFile(o.command) && !o.file.empty()) fail(Words(Say::kTakesNoFile, {firstWord, o.file}));
  if (IsTransfer(o.command) && !o.modelGiven) fail(Words(Say::kNeedsModel, {firstWord}));
  fail(CheckComRange(o));
  fail(CheckDevice(o, allowanceMs));
  if (!o.verify && o.command != Command::kDownload) fail(Words(Say::kOnlyForDownload, {"--no-verify"}));
  if (o.force && o.command != Command::kDownload) fail(Words(Say::kOnlyForDownload, {"--force"}));
  const bool offline = o.command == Command::kShow || o.command == Command::kLog || o.command == Command::kDiff;
  if (offline && (o.com || !o.device.empty())) fail(Words(Say::kUsesNoPort, {firstWord}));
  if (!o.since.empty() && o.command != Command::kLog) fail(Words(Say::kSinceOnlyForLog));
  if (o.modelGiven && o.command == Command::kDiff) fail(Words(Say::kDiffTakesNoModel));
  return r;
}

std::optional<Language> LanguageAsked(int argc, const char* const* argv) {
  std::optional<Language> asked;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::optional<Language> l;
    if (a.compare(0, 7, "--lang=") == 0)
      l = ParseLanguage(a.substr(7));
    else if (a == "--lang" && i + 1 < argc)
      l = ParseLanguage(argv[++i]);
    if (l) asked = l;  // the last one given, as with every other option
  }
  return asked;
}

std::string VersionText() { return std::string("km27ctl ") + KM27_VERSION + "\n"; }

std::string UsageText() { return Words(Say::kUsage); }

}  // namespace km27::ctl
