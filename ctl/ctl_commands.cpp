#include "ctl/ctl_commands.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ctl/ctl_link.h"
#include "ctl/ctl_system.h"
#include "ctl/ctl_texts.h"
#include "link/box_frame.h"
#include "link/link_timing.h"
#include "link/transmitter_image.h"
#include "link/verify.h"
#include "model/fingerprint.h"
#include "model/programme_compare.h"
#include "port/com_names.h"
#include "port/net_url.h"
#include "port/user_dirs.h"
#include "store/device_info.h"
#include "store/file_io.h"
#include "store/param_file.h"
#include "store/transfer_log.h"

namespace km27::ctl {

namespace {

// A programme file is 1056 bytes; anything much larger is not read into memory at all.
constexpr size_t kLargestFile = size_t(1) << 20;

// For the test suites only: every delay of both links divided by this number, so that a test
// does not wait out the code box's seconds. A read still waits 20 ms between bytes and 200 ms in
// all, as in the link's own tests: shorter limits would fail on a busy machine, not on a silent
// device. Not an option of the program; never set in use.
constexpr const char kTestTimingVariable[] = "KM27_TEST_TIMING_DIVISOR";

LinkTiming TestTiming() {
  const char* d = std::getenv(kTestTimingVariable);
  if (!d || std::atoi(d) <= 1) return LinkTiming();
  LinkTiming t = LinkTiming().Scaled(std::atoi(d));
  t.readIntervalMs = std::max(t.readIntervalMs, 20);
  t.readTotalConstantMs = std::max(t.readTotalConstantMs, 200);
  return t;
}

const char* CommandName(Command c) {
  switch (c) {
    case Command::kPorts: return "ports";
    case Command::kProbe: return "probe";
    case Command::kDownload: return "download";
    case Command::kUpload: return "upload";
    case Command::kVerify: return "verify";
    case Command::kShow: return "show";
    case Command::kLog: return "log";
    case Command::kDiff: return "diff";
    case Command::kNone: break;
  }
  return "";
}

std::string WorkingDirectory() {
  const std::string cwd = CurrentDirectory();
  return cwd.empty() ? std::string(".") : cwd;
}

// Reads a programme file; an unusable one is refused with its reason.
bool LoadProgramme(const std::string& file, Programme& p, Output& out) {
  const ReadResult r = ReadFileBytes(file, kLargestFile);
  if (!r.ok) {
    out.Error(Words(Say::kCannotReadProgramme, {file, StoreErrorText(r.failure)}), ErrorCodeFor(r.failure));
    return false;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(r.bytes.data());
  if (const StoreFailure problem = ParamFileProblem(bytes, r.bytes.size()); problem.Failed()) {
    out.Error(Words(Say::kNotAProgramme, {file, StoreErrorText(problem)}), ErrorCodeFor(problem));
    return false;
  }
  ParseParamFileImage(bytes, r.bytes.size(), p.options, p.table);
  return true;
}

int InterruptedExit(const SignalWatch& signals, Output& out,
                    const std::string& what = Words(Say::kStoppedNothingWritten)) {
  out.SetResult("interrupted");
  out.Error(Words(Say::kInterrupted, {what}), "interrupted");
  return kExitSignalBase + signals.Signal();
}

// What a download that did not end well left on the device, for its message.
std::string DeviceState(DeviceModel model, bool touched) {
  if (!touched) return Words(Say::kDeviceUnchanged);
  return Words(IsCodeTransmitter(model) ? Say::kTransmitterMayBeMixed : Say::kBoxMayBeChanged);
}

std::vector<std::string> PortProblems() {
  std::vector<std::string> lines;
  const std::string text = PortProblemText();
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

// Why the one port the operator gave found nothing: held by another program, not usable, or
// usable and silent.
const char* ChosenPortCode(const PortChoice& ports) {
  const std::string device = ComDevicePath(ports.com, ports.env);
  if (IsNetUrl(device)) {
    // Only connecting tells: the search is over, so one more connection takes nobody's place.
    const std::unique_ptr<Port> port = NewComPort();
    if (port->Open(device)) return "no_device";
    return port->LastError() == EBUSY ? "port_busy" : "port_unavailable";
  }
  OpenDevices seen;
  switch (InspectComPort(ports.com, device, seen).kind) {
    case ComPortState::kTaken: return "port_busy";
    case ComPortState::kFree: return "no_device";
    default: return "port_unavailable";
  }
}

std::string WhereLooked(DeviceModel model, const PortChoice& ports) {
  if (ports.chosen) {
    const std::string device = ComDevicePath(ports.com, ports.env);
    return device.empty() ? "COM" + std::to_string(ports.com) : Words(Say::kPortWithDevice, {ports.com, device});
  }
  return "COM1–COM" + std::to_string(LastComPort(model));
}

void ReportWhere(LinkSession& s, DeviceModel model, Output& out) {
  out.Result().Add("model", ModelName(model)).Add("com", s.ComPort()).Add("device", s.Device());
}

// Finds the lower machine; 0 when it answers, else the code to exit with.
int FindDevice(LinkSession& s, const SignalWatch& signals, DeviceModel model, const PortChoice& ports, Output& out) {
  out.Note(Words(Say::kLookingFor, {ModelTitle(model), WhereLooked(model, ports)}));
  switch (s.Find()) {
    case LinkSession::Found::kFound:
      ReportWhere(s, model, out);
      out.Note(Words(Say::kFoundOn, {s.ComPort(), s.Device(), ModelTitle(model)}));
      return kExitOk;
    case LinkSession::Found::kInterrupted: return InterruptedExit(signals, out);
    case LinkSession::Found::kNotFound: break;
  }
  const std::vector<std::string> problems = PortProblems();
  out.Result().Add("model", ModelName(model)).Add("problems", problems);
  std::string why = Words(Say::kNotFound, {ModelTitle(model), WhereLooked(model, ports)});
  for (const std::string& p : problems) why += "\n  " + p;
  out.Error(why, ports.chosen ? ChosenPortCode(ports) : "no_device");
  return kExitNoDevice;
}

// A transfer command's loop, signal watch and session, up to the lower machine found.
class Connection {
 public:
  Connection(const Options& o, Output& out, TransferRecord& record, const std::optional<DeviceInfo>& info)
      : o_(o), out_(out), record_(record), signals_(loop_), ports_(ChoosePort(o.com, o.device)) {
    if (signals_.Ok()) session_ = std::make_unique<LinkSession>(loop_, signals_, out, o.model, ports_, info, o.timing);
  }
  // kExitOk once the device answers, else the code to exit with.
  int Open() {
    if (!session_) {
      out_.Error(Words(Say::kNoSignalPipe));
      return kExitOther;
    }
    const int rc = FindDevice(*session_, signals_, o_.model, ports_, out_);
    if (rc == kExitOk) {
      record_.com = session_->ComPort();
      record_.device = session_->Device();
    } else if (ports_.chosen) {
      record_.com = ports_.com;
      record_.device = ComDevicePath(ports_.com, ports_.env);
    }
    return rc;
  }
  LinkSession& Session() { return *session_; }
  bool Interrupted() const { return signals_.Signal() != 0; }
  // The code to exit with when a transfer brought no outcome: a signal stopped it, or its
  // thread could not start.
  int NoOutcome() {
    if (Interrupted()) return InterruptedExit(signals_, out_);
    out_.Error(Words(Say::kCannotStartTransfer));
    return kExitOther;
  }
  int Stopped() { return InterruptedExit(signals_, out_); }
  // A download cut short: what it may have left on the device.
  int DownloadStopped() {
    if (session_->ReadBackBegun())
      return InterruptedExit(signals_, out_, Words(Say::kReadBackInterrupted));
    return InterruptedExit(signals_, out_,
                           Words(Say::kDownloadStopped, {DeviceState(o_.model, session_->DeviceTouched())}));
  }

 private:
  const Options& o_;
  Output& out_;
  TransferRecord& record_;
  PollLoop loop_;
  SignalWatch signals_;
  PortChoice ports_;
  std::unique_ptr<LinkSession> session_;
};

// Every differing item, one per line, after `head`; and in the JSON as the transfer log has them.
void ReportDifferences(const std::string& head, const VerifyDifference& d, Output& out, TransferRecord* record) {
  const std::string json = DifferencesJsonText(d);
  out.Result().AddRaw("differences", json);
  if (record) record->differences = json;
  out.Line(head);
  const CodeCatalogue catalogue;
  for (const DifferenceItem& item : d.items) out.Line("  " + DescribeDifference(item, catalogue));
}

// The verdict of a comparison, as the result and the exit code.
int ReportComparison(VerifyOutcome outcome, const VerifyDifference& d, const std::string& sameText, Output& out,
                     TransferRecord& record) {
  switch (outcome) {
    case VerifyOutcome::kSame:
      out.SetResult("ok");
      record.verified = true;
      out.Line(sameText);
      return kExitOk;
    case VerifyOutcome::kMismatch:
      out.SetResult("verify_mismatch");
      ReportDifferences(Words(Say::kMismatchCount, {d.items.size(), d.bytes}), d, out, &record);
      out.Error(Words(Say::kMismatch));
      return kExitMismatch;
    case VerifyOutcome::kReadBackFailed: break;
  }
  out.SetResult("readback_failed");
  out.Error(Words(Say::kReadBackFailed));
  return kExitReadBack;
}

// ---- commands -----------------------------------------------------------------------------

int Ports(const Options& o, Output& out) {
  const PortChoice ports = ChoosePort(o.com, o.device);
  const std::vector<std::string> paths = ComDevicePaths(LastComOfAnyModel(), ports.env);
  OpenDevices seen;
  std::vector<JsonObject> list;
  for (int n = 1; n <= LastComOfAnyModel(); ++n) {
    if (ports.chosen && n != ports.com) continue;
    const ComPortState s = InspectComPort(n, paths[size_t(n - 1)], seen);
    JsonObject j;
    j.Add("com", n).Add("device", s.device);
    std::string state;
    switch (s.kind) {
      case ComPortState::kAbsent:
        j.Add("state", "absent");
        state = Words(Say::kPortAbsent);
        break;
      case ComPortState::kFree:
        j.Add("state", "free");
        state = Words(Say::kPortFree);
        break;
      case ComPortState::kTaken:
        j.Add("state", "taken");
        if (!s.holder.program.empty()) j.Add("program", s.holder.program);
        if (s.holder.pid > 0) j.Add("pid", int(s.holder.pid));
        if (s.holder.pid <= 0)
          state = s.holder.program.empty() ? Words(Say::kPortTaken) : Words(Say::kPortTakenBy, {s.holder.program});
        else if (s.holder.program.empty())
          state = Words(Say::kPortTakenByProcess, {int(s.holder.pid)});
        else
          state = Words(Say::kPortTakenByProgram, {s.holder.program, int(s.holder.pid)});
        break;
      case ComPortState::kNoAccess:
        j.Add("state", "no_access").Add("reason", s.reason);
        state = Words(Say::kPortNoAccess, {s.reason});
        break;
      case ComPortState::kUnusable:
        j.Add("state", "unusable").Add("reason", s.reason);
        state = Words(Say::kPortUnusable, {s.reason});
        break;
    }
    list.push_back(j);
    char head[64];
    std::snprintf(head, sizeof head, "COM%-3d ", n);
    out.Line(head + (s.device.empty() ? std::string("-") : s.device) + "  " + state);
  }
  out.Result().Add("ports", list);
  return kExitOk;
}

// Every model asked for is looked for in turn; each search ends at the first port its model
// answers on.
int Probe(const Options& o, Output& out) {
  // Raw TCP keeps the server's speed: the code transmitter cannot be opened through it.
  NetUrl url;
  const bool rawTcp = ParseNetUrl(o.device, &url) == UrlProblem::None && url.scheme == NetScheme::Tcp;
  std::vector<DeviceModel> models;
  for (const DeviceModelInfo& m : DeviceModels())
    if (o.modelGiven ? m.model == o.model : o.com <= m.lastCom && !(rawTcp && IsCodeTransmitter(m.model)))
      models.push_back(m.model);
  PollLoop loop;
  SignalWatch signals(loop);
  if (!signals.Ok()) {
    out.Error(Words(Say::kNoSignalPipe));
    return kExitOther;
  }
  const PortChoice ports = ChoosePort(o.com, o.device);
  std::vector<std::string> tried;
  std::vector<JsonObject> found;
  for (DeviceModel m : models) {
    LinkSession s(loop, signals, out, m, ports, DeviceInfo{}, o.timing);
    out.Note(Words(Say::kLookingFor, {ModelTitle(m), WhereLooked(m, ports)}));
    const LinkSession::Found result = s.Find();
    if (result == LinkSession::Found::kInterrupted) return InterruptedExit(signals, out);
    if (result == LinkSession::Found::kFound) {
      JsonObject j;
      j.Add("model", ModelName(m)).Add("com", s.ComPort()).Add("device", s.Device());
      found.push_back(j);
      out.Line(std::string(ModelName(m)) + "  COM" + std::to_string(s.ComPort()) + "  " + s.Device() + "  " +
               ModelTitle(m));
    } else {
      tried.push_back(Words(Say::kModelWhere, {ModelTitle(m), WhereLooked(m, ports)}));
    }
  }
  out.Result().Add("found", found);
  if (!found.empty()) return kExitOk;
  const std::vector<std::string> problems = PortProblems();
  out.Result().Add("problems", problems);
  std::string list;
  for (size_t i = 0; i < tried.size(); ++i) list += (i ? Words(Say::kListSeparator) : "") + tried[i];
  std::string why = Words(Say::kNoDeviceFound, {list});
  for (const std::string& p : problems) why += "\n  " + p;
  out.Error(why);
  return kExitNoDevice;
}

int Download(const Options& o, Output& out, TransferRecord& record) {
  Programme file;
  if (!LoadProgramme(o.file, file, out)) return kExitFile;
  record.programmeSha256 = ProgrammeFingerprint(file.options, file.table);
  out.Result().Add("file", o.file);
  CodeCatalogue catalogue;
  if (const std::string bad = ImpossibleStepsText(file.table, catalogue); !bad.empty()) {
    if (!o.force) {
      out.SetResult("refused");
      out.Error(Words(Say::kImpossibleRefused, {o.file, bad}), "programme_invalid");
      return kExitFile;
    }
    out.Note(Words(Say::kImpossibleForced, {bad}));
  }
  // The code transmitter's device information travels with the programme, from the file the
  // window keeps in its start-up directory; without a usable one the device's own is read first
  // and sent back, never zeros in its place.
  DeviceInfo info{};
  std::optional<DeviceInfo> known;
  if (ModelInfo(o.model).carriesDeviceInfo) {
    const DeviceInfoLoad read = LoadDeviceInfo(WorkingDirectory(), info);
    out.Result().Add("device_info", read ? read.path : std::string());
    if (read) {
      known = info;
      record.deviceInfoSha256 = Sha256Hex(info.data(), info.size());
    } else {
      out.Note(Words(Say::kDeviceInfoFileUnusable, {read.path, StoreErrorText(read.failure)}));
    }
  }
  Connection link(o, out, record, known);
  if (const int rc = link.Open(); rc != kExitOk) return rc;
  const std::optional<TransferOutcome> r = link.Session().Download(file, o.verify);
  if (!r) return link.Interrupted() ? link.DownloadStopped() : link.NoOutcome();
  out.Result().Add("verified", r->readBack);
  if (ModelInfo(o.model).carriesDeviceInfo) out.Result().Add("device_info_from_device", r->infoFromDevice);
  if (r->infoUnreadable) {
    out.SetResult("refused");
    out.Error(Words(Say::kDeviceInfoUnreadable), "no_answer");
    return kExitTransfer;
  }
  if (r->infoFromDevice) out.Note(Words(Say::kDeviceInfoFromDevice));
  if (r->ownInfo) record.deviceInfoSha256 = Sha256Hex(r->ownInfo->data(), r->ownInfo->size());
  if (!r->ok) {
    out.SetResult("transfer_failed").Add("device_changed", r->deviceTouched);
    out.Error(Words(Say::kDownloadFailed, {DeviceState(o.model, r->deviceTouched)}));
    return kExitTransfer;
  }
  if (!r->readBack) {
    out.SetResult("ok");
    out.Line(Words(Say::kDownloadedUnverified));
    return kExitOk;
  }
  if (r->verify == VerifyOutcome::kReadBackFailed) {
    out.SetResult("readback_failed");
    out.Error(Words(Say::kDownloadUnproven));
    return kExitReadBack;
  }
  return ReportComparison(r->verify, r->difference, Words(Say::kDownloadedVerified), out, record);
}

int Upload(const Options& o, Output& out, TransferRecord& record) {
  out.Result().Add("file", o.file);
  Programme old;
  // A file that is there must be a programme file: it is replaced only by one, and the code
  // transmitter, which has no line options, leaves the file's as the window leaves its own.
  const ReadResult existing = ReadFileBytes(o.file, kLargestFile);
  if (existing.ok && !existing.bytes.empty()) {
    if (!LoadProgramme(o.file, old, out)) {
      out.Error(Words(Say::kNotOverwritten), "file_invalid");
      return kExitFile;
    }
  } else if (!existing.ok && existing.failure.sysError != ENOENT) {
    out.Error(Words(Say::kCannotUseFile, {o.file, StoreErrorText(existing.failure)}), ErrorCodeFor(existing.failure));
    return kExitFile;
  }
  Connection link(o, out, record, DeviceInfo{});
  if (const int rc = link.Open(); rc != kExitOk) return rc;
  LinkSession& s = link.Session();
  const std::optional<TransferOutcome> r = s.Upload();
  if (!r) return link.NoOutcome();
  if (!r->ok || !s.Received()) {
    out.SetResult("transfer_failed");
    out.Error(Words(Say::kUploadFailed));
    return kExitTransfer;
  }
  s.Stop();
  if (link.Interrupted()) return link.Stopped();
  const Programme got = s.Received()->Over(old);
  record.programmeSha256 = ProgrammeFingerprint(got.options, got.table);
  if (const auto& info = s.Received()->info) record.deviceInfoSha256 = Sha256Hex(info->data(), info->size());
  const SaveResult saved = SaveParamFile(o.file, got.options, got.table);
  if (!saved.ok) {
    out.SetResult("transfer_failed");
    out.Error(Words(Say::kUploadedNotWritten, {saved.path, StoreErrorText(saved.failure)}),
              ErrorCodeFor(saved.failure));
    return kExitFile;
  }
  std::string line = Words(Say::kUploaded, {o.file});
  if (ModelInfo(o.model).carriesDeviceInfo && s.Received()->info) {
    const SaveResult info = SaveDeviceInfo(WorkingDirectory(), *s.Received()->info);
    out.Result().Add("device_info", info.path);
    if (!info.ok) {
      out.SetResult("transfer_failed");
      out.Error(Words(Say::kDeviceInfoNotWritten, {o.file, info.path, StoreErrorText(info.failure)}),
                ErrorCodeFor(info.failure));
      return kExitFile;
    }
    line = Words(Say::kUploadedWithDeviceInfo, {o.file, info.path});
  }
  out.SetResult("ok");
  out.Line(line);
  return kExitOk;
}

int Verify(const Options& o, Output& out, TransferRecord& record) {
  Programme file;
  if (!LoadProgramme(o.file, file, out)) return kExitFile;
  record.programmeSha256 = ProgrammeFingerprint(file.options, file.table);
  out.Result().Add("file", o.file);
  Connection link(o, out, record, DeviceInfo{});
  if (const int rc = link.Open(); rc != kExitOk) return rc;
  LinkSession& s = link.Session();
  // The device's programme comes with the upload exchange and is compared with what a download
  // of the file would send, in the form it travels, so a difference is named as after a download.
  const std::optional<TransferOutcome> r = s.Upload();
  if (!r) return link.NoOutcome();
  if (!r->ok || !s.Received()) return ReportComparison(VerifyOutcome::kReadBackFailed, {}, "", out, record);
  if (const auto& info = s.Received()->info) record.deviceInfoSha256 = Sha256Hex(info->data(), info->size());
  // What the device holds; nothing of it is written anywhere.
  const Programme held = s.Received()->Over(Programme{});
  VerifyDifference d;
  if (IsCodeTransmitter(o.model)) {
    // The device information is not in the programme file: the device's own is taken on both
    // sides, so only masks and steps are compared.
    const DeviceInfo info = s.Received()->info.value_or(DeviceInfo{});
    TransmitterImage sent, read;
    sent.SetInfo(info);
    sent.BuildFrom(file.options, file.table);
    read.SetInfo(info);
    read.BuildFrom(held.options, held.table);
    d = CompareTransmitterImages(sent, read);
  } else {
    SealBoxHeader(file.options);
    const BoxFrame sent = BuildBoxFrame(file.options, file.table);
    const BoxFrame read = BuildBoxFrame(held.options, held.table);
    d = CompareBoxFrames(sent.data(), read.data());
  }
  return ReportComparison(d.Same() ? VerifyOutcome::kSame : VerifyOutcome::kMismatch, d, Words(Say::kVerifiedSame),
                          out, record);
}

int Show(const Options& o, Output& out) {
  Programme file;
  if (!LoadProgramme(o.file, file, out)) return kExitFile;
  out.Result().Add("file", o.file).Add("programme_sha256", ProgrammeFingerprint(file.options, file.table));
  CodeCatalogue catalogue;
  ShowProgramme(o.file, file.options, file.table, catalogue, out);
  return kExitOk;
}

// Two programme files compared as a read-back compares the device with what was sent: the
// first file in the place of what was sent, the second in that of what was read.
int Diff(const Options& o, Output& out) {
  Programme a, b;
  if (!LoadProgramme(o.file, a, out) || !LoadProgramme(o.otherFile, b, out)) return kExitFile;
  out.Result()
      .Add("file", o.file)
      .Add("other_file", o.otherFile)
      .Add("programme_sha256", ProgrammeFingerprint(a.options, a.table))
      .Add("other_programme_sha256", ProgrammeFingerprint(b.options, b.table));
  const VerifyDifference d = CompareProgrammes(a, b);
  out.Result().Add("same", d.Same());
  if (d.Same()) {
    out.Result().AddRaw("differences", "[]");
    out.Line(Words(Say::kFilesSame));
    return kExitOk;
  }
  ReportDifferences(Words(Say::kFilesDifferCount, {o.file, o.otherFile, d.items.size(), d.bytes}), d, out, nullptr);
  return kExitMismatch;
}

bool IsTransferCommand(Command c) { return c == Command::kDownload || c == Command::kUpload || c == Command::kVerify; }

}  // namespace

int Main(int argc, const char* const* argv) {
  PrepareProcess();
  // Before anything is said: --lang, else the system's.
  SetLanguage(LanguageAsked(argc, argv).value_or(SystemLanguage()));
  const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  const Options& o = parsed.options;
  if (o.help) {
    WriteText(stdout, UsageText());
    return Output::Finished(kExitOk);
  }
  if (o.version) {
    WriteText(stdout, VersionText());
    return Output::Finished(kExitOk);
  }
  Output out(o.json, o.quiet);
  out.Result().Add("command", CommandName(o.command));
  if (!parsed.error.empty()) {
    out.Error(Words(Say::kSeeHelp, {parsed.error}));
    return out.Finish(kExitUsage);
  }
  Options withTiming = o;
  withTiming.timing = TestTiming();
  TransferRecord record;
  record.action = CommandName(o.command);
  record.model = ModelName(o.model);
  if (!o.file.empty()) record.file = AbsolutePath(o.file);
  int rc = kExitOther;
  switch (o.command) {
    case Command::kPorts: rc = Ports(withTiming, out); break;
    case Command::kProbe: rc = Probe(withTiming, out); break;
    case Command::kDownload: rc = Download(withTiming, out, record); break;
    case Command::kUpload: rc = Upload(withTiming, out, record); break;
    case Command::kVerify: rc = Verify(withTiming, out, record); break;
    case Command::kShow: rc = Show(withTiming, out); break;
    case Command::kLog: rc = ShowTransferLog(withTiming, out); break;
    case Command::kDiff: rc = Diff(withTiming, out); break;
    case Command::kNone: break;
  }
  if (IsTransferCommand(o.command)) LogTransfer(o, rc, record, out);
  return out.Finish(rc);
}

}  // namespace km27::ctl
