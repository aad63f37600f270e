// km27ctl's transfers end to end against both simulated lower machines: what reaches the device,
// what is written (and what never is), and the exit code of each way a transfer can end.
#include <pty.h>

#include <string>

#include "ctl/ctl_fixture.h"
#include "model/fingerprint.h"
#include "sim/terminal_server.h"
#include "store/device_info.h"

namespace km27::testing {
namespace {

// The code transmitter waits out its read limit on every failing exchange; 30 brings that limit
// down to the 200 ms floor the test timing keeps.
// The box's scan and watchdog periods must stay well above its chatter.
constexpr int kFastTransmitter = 30;
constexpr int kBoxDivisor = 4;

class CtlTransfer : public CtlTest {
 protected:

  // What a download of the test programme leaves in each device.
  TransmitterImage SentImage(const DeviceInfo& info = {}) const {
    TransmitterImage image;
    image.SetInfo(info);
    image.BuildFrom(programme.options, programme.table);
    return image;
  }
  BoxFrame SentFrame() const {
    ParamOptions sealed = programme.options;
    SealBoxHeader(sealed);
    return BuildBoxFrame(sealed, programme.table);
  }
  // Image byte of step `step` (1-based) of `carrier`'s seconds, where the carrier travels.
  static int TransmitterStepByte(int carrier, int step) {
    int deviceBlock = 0;
    while (TransmitterImage::CarrierOfDeviceBlock(deviceBlock) != carrier) ++deviceBlock;
    return int(kImageTableOffset) + deviceBlock * kBlockBytes + 2 * (step - 1) + 1;
  }
  static int BoxStepByte(int carrier, int step) {
    return int(kBoxHeaderBytes) + carrier * kBlockBytes + 2 * (step - 1) + 1;
  }
};

TEST_F(CtlTransfer, ACleanDownloadIsReadBackAndVerifyAgreesWithoutWritingAnything) {
  divisor = kBoxDivisor;
  sim::TransmitterSim& transmitter = AddTransmitter(1);
  sim::BoxSim& box = AddBox(2);
  const std::string file = WriteProgramme();
  const std::string bytes = ReadAll(file);

  CtlResult r = Run({"download", "--model", "KM27C", "--com", "1", "KM27A.dat"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "校验一致")) << r.out;
  EXPECT_TRUE(Has(r.err, "读回校验 17/17")) << r.err;  // the read-back ran to its end
  EXPECT_TRUE(transmitter.Image() == SentImage());
  size_t logged = 0;
  const nlohmann::json record = NewRecord(logged, "ok");
  EXPECT_EQ(record["action"], "download");
  EXPECT_EQ(record["com"], 1);
  EXPECT_TRUE(record["verified"].get<bool>());

  r = Run({"download", "--model", "KM27A", "--com", "2", "KM27A.dat"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "校验一致")) << r.out;
  EXPECT_TRUE(box.Frame() == SentFrame());
  EXPECT_EQ(box.UploadsAnswered(), 1);  // its read-back

  // Verify reads each device and compares; the working directory is left exactly as it was.
  const std::set<std::string> before = Listing(work);
  for (const auto& [model, port] : {std::pair{"KM27C", "1"}, std::pair{"KM27A", "2"}}) {
    r = Run({"verify", "--model", model, "--com", port, "--json", "KM27A.dat"});
    EXPECT_EQ(r.code, 0) << model << r.out << r.err;
    const nlohmann::json j = r.Json();
    EXPECT_EQ(j["command"], "verify");
    EXPECT_EQ(j["result"], "ok");
    EXPECT_EQ(j["model"], model);
    EXPECT_EQ(j["com"], std::stoi(port));
    EXPECT_EQ(j["exit_code"], 0);
    EXPECT_TRUE(j["ok"].get<bool>());
  }
  EXPECT_EQ(Listing(work), before);
  EXPECT_EQ(ReadAll(file), bytes);

  // Without verification the device is not read again; quiet, nothing goes to standard error.
  r = Run({"download", "--model", "KM27A", "--com", "2", "--no-verify", "--quiet", "--json", "KM27A.dat"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.Json()["result"], "ok");
  EXPECT_FALSE(r.Json()["verified"].get<bool>());
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(box.UploadsAnswered(), 2);  // the verify's read only
  EXPECT_EQ(LogRecords().size(), 5u);

  // In English every word is English: the search, the progress and the outcome.
  lang = "en";
  r = Run({"download", "--model", "KM27A", "--com", "2", "KM27A.dat"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Download complete, verified")) << r.out;
  EXPECT_TRUE(Has(r.err, "read-back 1/1")) << r.err;
  EXPECT_FALSE(HasCjk(r.out + r.err)) << r.out << r.err;
}

TEST_F(CtlTransfer, ProgressIsABarWithBlockCountsOnATerminal) {
  divisor = kBoxDivisor;
  AddTransmitter(1);
  WriteProgramme();
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  auto p = Start({"download", "--model", "KM27C", "--com", "1", "KM27A.dat"}, name);
  ASSERT_TRUE(p->WaitExit(60000));
  EXPECT_EQ(p->ExitCode(), 0);
  close(slave);
  std::string shown;
  char buf[4096];
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) shown.append(buf, size_t(n));
  close(master);
  // One line redrawn in place, filled as the blocks go, then closed with a line end.
  EXPECT_TRUE(Has(shown, "\r\033[K下载 [")) << shown;
  EXPECT_TRUE(Has(shown, "[####################] 17/17")) << shown;
  EXPECT_TRUE(Has(shown, "读回校验 [")) << shown;
  EXPECT_FALSE(Has(shown, "下载 3/17\r\n")) << shown;  // not the plain lines of a log
}

TEST_F(CtlTransfer, AByteStoredWronglyIsAMismatchNamingItsCarrierAndStep) {
  divisor = kBoxDivisor;
  // 650 Hz travels to the code transmitter in another carrier's place: the name must be the
  // operator's carrier, not the device's block.
  sim::TransmitterSimOptions t;
  t.storeWrongByte = TransmitterStepByte(1, 2);
  AddTransmitter(1, t);
  sim::BoxSimOptions b;
  b.storeWrongByte = BoxStepByte(5, 3);
  AddBox(2, b);
  WriteProgramme();
  size_t logged = 0;

  struct Case {
    const char* model;
    const char* port;
    int carrier, step;
  };
  for (const Case& c : {Case{"KM27C", "1", 1, 2}, Case{"KM27A", "2", 5, 3}}) {
    SCOPED_TRACE(c.model);
    const std::string named = CarrierTitle(c.carrier) + "第 " + std::to_string(c.step) + " 步";
    CtlResult r = Run({"download", "--model", c.model, "--com", c.port, "--json", "KM27A.dat"});
    EXPECT_EQ(r.code, 6) << r.err;
    nlohmann::json j = r.Json();
    EXPECT_EQ(j["result"], "verify_mismatch");
    EXPECT_EQ(j["exit_code"], 6);
    EXPECT_EQ(j["error"]["code"], "verify_mismatch");
    ASSERT_FALSE(j["differences"].empty()) << j.dump();  // the box's group check byte follows
    const nlohmann::json& d = j["differences"][0];
    EXPECT_EQ(d["carrier"], Carrier(c.carrier).caption);
    EXPECT_EQ(d["step"], c.step);
    EXPECT_EQ(d["read"]["code"], d["sent"]["code"]);
    EXPECT_EQ(d["read"]["seconds"], d["sent"]["seconds"].get<int>() + 1);
    const nlohmann::json record = NewRecord(logged, "verify_mismatch");
    EXPECT_FALSE(record["verified"].get<bool>());
    EXPECT_EQ(record["differences"], j["differences"]);

    // The device keeps the wrong byte: comparing it with the file finds the same place.
    r = Run({"verify", "--model", c.model, "--com", c.port, "KM27A.dat"});
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_TRUE(Has(r.out, named)) << r.out;
    NewRecord(logged, "verify_mismatch");
  }
}

TEST_F(CtlTransfer, EveryDifferenceIsListedTheLogKeepsItAndDiffOfTheFilesAgrees) {
  divisor = kFastTransmitter;
  sim::TransmitterSim& transmitter = AddTransmitter(1);
  WriteProgramme();
  const std::string fingerprint = ProgrammeFingerprint(programme.options, programme.table);
  // The device holds the programme with three steps changed, on carriers far apart.
  const ParamTable file = programme.table;
  const std::pair<int, int> changed[] = {{0, 1}, {9, 2}, {17, 3}};
  for (const auto& [carrier, step] : changed) {
    ParamEntry e = file.Entry(carrier, step - 1);
    ++e.seconds;
    programme.table.SetEntry(carrier, step - 1, e);
  }
  transmitter.SetImage(SentImage());
  ASSERT_TRUE(SaveParamFile(work + "/device.dat", programme.options, programme.table).ok);

  CtlResult r = Run({"verify", "--model", "KM27C", "--com", "1", "--json", "KM27A.dat"});
  EXPECT_EQ(r.code, 6) << r.err;
  const nlohmann::json found = r.Json()["differences"];
  std::set<std::pair<std::string, int>> places;
  for (const nlohmann::json& d : found) places.insert({d.value("carrier", ""), d.value("step", 0)});
  std::set<std::pair<std::string, int>> expected;
  for (const auto& [carrier, step] : changed) expected.insert({Carrier(carrier).caption, step});
  EXPECT_EQ(places, expected) << found.dump();
  EXPECT_EQ(found.size(), 3u);
  size_t logged = 0;
  const nlohmann::json record = NewRecord(logged, "verify_mismatch");
  EXPECT_EQ(record["programme_sha256"], fingerprint);
  EXPECT_EQ(Run({"show", "--json", "KM27A.dat"}).Json()["programme_sha256"], fingerprint);

  // The two files compared name the same three places.
  r = Run({"diff", "--json", "KM27A.dat", "device.dat"});
  EXPECT_EQ(r.code, 6) << r.err;
  std::multiset<std::string> fromVerify, fromDiff;
  for (const nlohmann::json& d : found) fromVerify.insert(d.dump());
  const nlohmann::json compared = r.Json()["differences"];
  for (const nlohmann::json& d : compared) fromDiff.insert(d.dump());
  EXPECT_EQ(fromDiff, fromVerify) << r.out;
  r = Run({"diff", "KM27A.dat", "device.dat"});
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4) << r.out;  // a head and each place
  EXPECT_EQ(Run({"diff", "KM27A.dat", "KM27A.dat"}).code, 0);
  EXPECT_EQ(Run({"diff", "KM27A.dat", "missing.dat"}).code, 3);
  EXPECT_EQ(LogRecords().size(), 1u);  // comparing files is no transfer

  // The log read back: one transfer of each model, filtered by model, as a table and as lines.
  EXPECT_EQ(Run({"verify", "--model", "KM27A", "--com", "5", "KM27A.dat"}).code, 4);
  NewRecord(logged, "refused");
  r = Run({"log", "--model", "KM27C"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
  EXPECT_TRUE(Has(r.out, "verify_mismatch") && Has(r.out, "COM1") && Has(r.out, fingerprint.substr(0, 12))) << r.out;
  r = Run({"log", "--json"});
  std::istringstream lines(r.out);
  std::vector<nlohmann::json> listed;
  for (std::string line; std::getline(lines, line);) listed.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(listed.size(), 2u) << r.out;
  EXPECT_EQ(listed[0]["result"], "verify_mismatch");
  EXPECT_EQ(listed[1]["model"], "KM27A");
  EXPECT_EQ(Run({"log", "--log", root + "/none.jsonl"}).code, 0);  // no log yet: an empty table
  // --since keeps what came at or after it; a time it cannot read is a usage error, a log it
  // cannot read a file error.
  r = Run({"log", "--json", "--since", "2000-01-01"});
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
  r = Run({"log", "--json", "--since", "2999-01-01T00:00+08:00"});
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 0) << r.out;
  EXPECT_EQ(Run({"log", "--since", "2026-13-01"}).code, 2);
  EXPECT_EQ(Run({"log", "--log", root}).code, 3);  // a folder where the log should be
}

TEST_F(CtlTransfer, AReadBackThatFailsIsReportedAsSuchNotAsAMismatch) {
  sim::TransmitterSimOptions t;
  t.failReads = true;
  sim::TransmitterSim& transmitter = AddTransmitter(1, t);
  sim::BoxSimOptions b;
  b.noUploadAnswer = true;
  sim::BoxSim& box = AddBox(2, b);
  WriteProgramme();
  WriteDeviceInfo();
  size_t logged = 0;

  for (const auto& [model, port, d] : {std::tuple{"KM27C", "1", kFastTransmitter}, std::tuple{"KM27A", "2", kBoxDivisor}}) {
    SCOPED_TRACE(model);
    divisor = d;
    CtlResult r = Run({"download", "--model", model, "--com", port, "--json", "KM27A.dat"});
    EXPECT_EQ(r.code, 7) << r.err;
    EXPECT_EQ(r.Json()["result"], "readback_failed");
    EXPECT_TRUE(r.Json()["verified"].get<bool>());
    const nlohmann::json record = NewRecord(logged, "readback_failed");
    EXPECT_FALSE(record["verified"].get<bool>());
    // The device information sent with the programme: DDINFO.txt's.
    EXPECT_EQ(record.value("device_info_sha256", ""),
              std::string(model) == "KM27C" ? Sha256Hex(DeviceInfo{}.data(), kDeviceInfoBytes) : "");
    r = Run({"verify", "--model", model, "--com", port, "KM27A.dat"});
    EXPECT_EQ(r.code, 7) << r.err;
    EXPECT_TRUE(Has(r.err, "未能从下位机读回")) << r.err;
    NewRecord(logged, "readback_failed");
  }
  // The downloads themselves went through.
  EXPECT_TRUE(transmitter.Image() == SentImage());
  EXPECT_EQ(box.DownloadsAccepted(), 1);
}

TEST_F(CtlTransfer, WithoutUsableDeviceInformationTheDevicesOwnIsSentBackOrNothingIsSent) {
  divisor = kFastTransmitter;
  DeviceInfo own;
  for (size_t i = 0; i < own.size(); ++i) own[i] = uint8_t(i + 1);
  sim::TransmitterSim& transmitter = AddTransmitter(1);
  WriteProgramme();
  // No DDINFO.txt, then one that stops short of 96 values: sending zeros for the rest used to
  // wipe the device's own.
  for (const std::string& ddinfo : {std::string(), std::string("1,2,3,\r\n")}) {
    SCOPED_TRACE(ddinfo);
    if (!ddinfo.empty()) std::ofstream(work + "/DDINFO.txt", std::ios::binary) << ddinfo;
    transmitter.SetImage(SentImage(own));
    CtlResult r = Run({"download", "--model", "KM27C", "--com", "1", "--json", "KM27A.dat"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.Json()["device_info_from_device"].get<bool>());
    EXPECT_TRUE(Has(r.err, "设备信息取自下位机")) << r.err;
    EXPECT_TRUE(transmitter.Image() == SentImage(own));
    // The record names the information that went, though no file held it.
    EXPECT_EQ(LogRecords().back()["device_info_sha256"], Sha256Hex(own.data(), own.size()));
  }
  // A device whose information cannot be read gets nothing at all.
  transmitter.SetFailReads(true);
  const auto written = transmitter.GetStats().writes;
  CtlResult r = Run({"download", "--model", "KM27C", "--com", "1", "--json", "KM27A.dat"});
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_EQ(r.Json()["result"], "refused");
  EXPECT_TRUE(transmitter.GetStats().writes == written);
}

TEST_F(CtlTransfer, AnInvalidFileIsRefusedWithItsReasonBeforeAnythingIsSent) {
  divisor = kBoxDivisor;
  sim::TransmitterSim& transmitter = AddTransmitter(1);
  sim::BoxSim& box = AddBox(2);
  WriteProgramme();
  std::string shortFile = ReadAll(work + "/KM27A.dat");
  shortFile.pop_back();
  std::ofstream(work + "/short.dat", std::ios::binary) << shortFile;
  std::string otherVersion = ReadAll(work + "/KM27A.dat");
  otherVersion[50 + 8] = '2';  // "KM27A 1.0" -> "KM27A 1.2"
  std::ofstream(work + "/other.dat", std::ios::binary) << otherVersion;

  // A step the device cannot carry out (code 25 of a frequency-shift carrier) is refused.
  ParamTable impossible = programme.table;
  impossible.SetEntry(1, 2, ParamEntry{25, 5});
  ASSERT_TRUE(SaveParamFile(work + "/impossible.dat", programme.options, impossible).ok);

  for (const std::string model : {"KM27C", "KM27A"}) {
    CtlResult r = Run({"download", "--model", model, "impossible.dat"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(Has(r.err, "650 Hz（移频）第 3 步：低频代码 25 不存在")) << r.err;
    r = Run({"download", "--model", model, "short.dat"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(Has(r.err, "1055")) << r.err;
    r = Run({"download", "--model", model, "--json", "other.dat"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.Json()["error"]["code"], "file_invalid");
    EXPECT_TRUE(Has(r.Json()["error"]["message"].get<std::string>(), "版本")) << r.out;
    r = Run({"verify", "--model", model, "missing.dat"});
    EXPECT_EQ(r.code, 3);
  }
  // No port was even opened: the code transmitter never saw its identification poll.
  EXPECT_EQ(transmitter.GetStats().identify, 0);
  EXPECT_EQ(transmitter.GetStats().open, 0);
  EXPECT_EQ(box.DownloadsReceived(), 0);
  EXPECT_EQ(box.UploadsAnswered(), 0);
  // Unless the operator insists.
  CtlResult r = Run({"download", "--model", "KM27A", "--com", "2", "--force", "impossible.dat"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(box.Frame()[size_t(BoxStepByte(1, 3)) - 1], 25);
}

TEST_F(CtlTransfer, UploadWritesTheDevicesProgrammeAndNeverAFileFromAFailedUpload) {
  divisor = kBoxDivisor;
  WriteProgramme("source.dat");
  DeviceInfo info;
  for (size_t i = 0; i < info.size(); ++i) info[i] = uint8_t(255 - i);
  sim::TransmitterSim& transmitter = AddTransmitter(1);
  transmitter.SetImage(SentImage(info));
  sim::BoxSim& box = AddBox(2);
  box.SetFrame(SentFrame());

  // A Chinese name reaches the file system whole (on Windows through the wide command line).
  CtlResult r = Run({"upload", "--model", "KM27C", "--com", "1", "发码器程序.dat"});
  ASSERT_EQ(r.code, 0) << r.err;
  ParamOptions options;
  ParamTable table;
  ASSERT_TRUE(LoadParamFile(work + "/发码器程序.dat", options, table));
  EXPECT_TRUE(table == programme.table);
  for (int f = 0; f < kFamilyCount; ++f) EXPECT_EQ(options.MaskByte(f), programme.options.MaskByte(f)) << f;
  DeviceInfo kept{};
  ASSERT_TRUE(LoadDeviceInfo(work, kept));  // where the window keeps it: the working directory
  EXPECT_EQ(kept, info);

  r = Run({"upload", "--model", "KM27A", "--com", "2", "--json", "fromA.dat"});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_TRUE(LoadParamFile(work + "/fromA.dat", options, table));
  EXPECT_TRUE(BuildBoxFrame(options, table) == SentFrame());

  // A failed upload leaves the file as it was, with no temporary file beside it.
  box.SetNoUploadAnswer(true);
  const std::string before = ReadAll(work + "/fromA.dat");
  const std::set<std::string> listed = Listing(work);
  r = Run({"upload", "--model", "KM27A", "--com", "2", "fromA.dat"});
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_EQ(ReadAll(work + "/fromA.dat"), before);
  EXPECT_EQ(Listing(work), listed);

  // A file that is there but is no programme file is not replaced, and nothing is asked of the device.
  std::ofstream(work + "/notes.txt") << "not a programme";
  const int uploads = transmitter.GetStats().reads[0];
  r = Run({"upload", "--model", "KM27C", "--com", "1", "notes.txt"});
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(ReadAll(work + "/notes.txt"), "not a programme");
  EXPECT_EQ(transmitter.GetStats().reads[0], uploads);
}

TEST_F(CtlTransfer, CorruptedIdentificationAnswersDoNotEndTheSearch) {
  divisor = kFastTransmitter;
  // Three bytes in a hundred spoiled: about one identification answer in three is unusable.
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    transmitters.clear();
    sim::TransmitterSimOptions t;
    t.corruptFraction = 0.03;
    t.seed = seed;
    AddTransmitter(1, t);
    const CtlResult r = Run({"upload", "--model", "KM27C", "up.dat"});
    EXPECT_TRUE(Has(r.err, "在 COM1")) << "seed " << seed << ": " << r.err;
  }
}

TEST_F(CtlTransfer, FailedTransfersAndMissingDevicesHaveExitCodesOfTheirOwn) {
  WriteProgramme();
  sim::TransmitterSimOptions t;
  t.noAckBlock = 3;
  AddTransmitter(1, t);
  sim::BoxSimOptions b;
  b.noAccept = true;
  AddBox(2, b);
  WriteDeviceInfo();

  // Each failure says what it left on the device: blocks 0..2 were taken; the box's frame left.
  divisor = kFastTransmitter;
  CtlResult r = Run({"download", "--model", "KM27C", "--com", "1", "--json", "KM27A.dat"});
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_EQ(r.Json()["result"], "transfer_failed");
  EXPECT_TRUE(r.Json()["device_changed"].get<bool>());
  EXPECT_TRUE(Has(r.Json()["error"]["message"].get<std::string>(), "新旧混杂")) << r.out;
  r = Run({"upload", "--model", "KM27C", "--com", "1", "up.dat"});
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_FALSE(Listing(work).count("up.dat"));

  divisor = kBoxDivisor;
  r = Run({"download", "--model", "KM27A", "--com", "2", "KM27A.dat"});
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_TRUE(Has(r.err, "参数帧已经发出")) << r.err;

  // Nothing on COM5; nothing at all behind a device path; no device anywhere for a model.
  for (const std::string model : {"KM27C", "KM27A"}) {
    r = Run({"download", "--model", model, "--com", "5", "--json", "KM27A.dat"});
    EXPECT_EQ(r.code, 4) << model << r.err;
    EXPECT_EQ(r.Json()["error"]["code"], "port_unavailable");
    r = Run({"probe", "--model", model, "--device", root + "/no-such-tty", "--json"});
    EXPECT_EQ(r.code, 4) << model << r.out;
    EXPECT_TRUE(r.Json()["found"].empty());
  }
  transmitters.clear();
  boxes.clear();
  r = Run({"verify", "--model", "KM27A", "KM27A.dat"});
  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_TRUE(Has(r.err, "COM1–COM9")) << r.err;
}

TEST_F(CtlTransfer, ALineUnpluggedMidTransferFailsWithinItsTimeLimitAndWritesNothing) {
  // Each device holds the transfer at a point that would otherwise last seconds: the code
  // transmitter's 6 s wait for block 5 ends with the line; the code box's 2.5 s upload limit
  // runs out, as the code box tells no hang-up apart from silence.
  sim::TransmitterSimOptions t;
  t.noAckBlock = 5;
  sim::TransmitterSim& transmitter = AddTransmitter(1, t);
  sim::BoxSimOptions b;
  b.noUploadAnswer = true;
  sim::BoxSim& box = AddBox(2, b);
  WriteProgramme();
  WriteDeviceInfo();
  divisor = 1;
  const std::set<std::string> before = Listing(work);
  const std::function<void()> unplug[] = {[&] { transmitter.Unplug(); }, [&] { box.Stop(); }};
  const Strings runs[] = {{"upload", "--model", "KM27C", "--com", "1", "up.dat"},
                          {"upload", "--model", "KM27A", "--com", "2", "up.dat"}};
  const char* stages[] = {"上传 5/17", "上传 0/1"};
  for (int i = 0; i < 2; ++i) {
    auto p = Start(runs[i]);
    ASSERT_TRUE(WaitFor([&] { return Has(p->Err(), stages[i]); }, 60000)) << p->Err();
    const auto pulled = Clock::now();
    unplug[i]();
    ASSERT_TRUE(p->WaitExit(30000));
    EXPECT_EQ(p->ExitCode(), 5) << p->Err();
    EXPECT_LT(Clock::now() - pulled, std::chrono::seconds(3)) << p->Err();
    EXPECT_EQ(Listing(work), before);
  }
}

// Both lower machines behind ser2net on loopback: the code transmitter over Telnet with the COM
// port option (its opening changes the speed), the code box over raw TCP; straight to the
// server, and through a relay that holds each direction 50 ms.
class CtlNetwork : public CtlTransfer {
 protected:
  using Ser2netServer = sim::Ser2netServer;
  using DelayRelay = sim::DelayRelay;
  void SetUp() override {
    CtlTransfer::SetUp();
    if (!Ser2netServer::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/setup-debian.sh installs it)";
    // The real periods: a terminal server is another process, and on a loaded machine it may
    // hold the box's answer long enough for chatter at a scaled-down presence period to pile
    // up in front of it (the read-back then took the answer for damaged).
    divisor = 1;
    AddTransmitter(1);
    AddBox(2);
    lines = {{transmitters[0]->SlavePath(), true}, {Resolve(com + "/COM2"), false}};
    ASSERT_TRUE(server.Start(root, lines)) << "ser2net did not start";
  }
  static std::string Resolve(const std::string& link) {
    char* r = realpath(link.c_str(), nullptr);
    std::string s = r ? r : "";
    free(r);
    return s;
  }
  // A run as soon as the server has let the last client go: it keeps its line to one client,
  // and a relay passes a close on late, later still on a loaded machine.
  CtlResult RunOnFreeLine(const Strings& args) {
    CtlResult r;
    WaitFor([&] { return !Has((r = Run(args)).err, "其他客户端占用"); }, 20000);
    return r;
  }
  static std::string Url(const char* scheme, int port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
  }

  std::vector<Ser2netServer::Line> lines;
  Ser2netServer server;
};

TEST_F(CtlNetwork, BothModelsTransferThroughTheServerAndThroughADelayingRelay) {
  WriteProgramme();
  WriteDeviceInfo();
  for (int delayMs : {0, 50}) {
    SCOPED_TRACE(delayMs);
    DelayRelay toTransmitter(lines[0].port, delayMs), toBox(lines[1].port, delayMs);
    const std::string c = Url("rfc2217", delayMs ? toTransmitter.Port() : lines[0].port);
    const std::string a = Url("tcp", delayMs ? toBox.Port() : lines[1].port);
    transmitters[0]->SetImage(TransmitterImage());
    CtlResult r = RunOnFreeLine({"download", "--model", "KM27C", "--device", c, "KM27A.dat"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(transmitters[0]->Image() == SentImage());
    r = RunOnFreeLine({"upload", "--model", "KM27C", "--device", c, "fromC.dat"});
    EXPECT_EQ(r.code, 0) << r.err;
    ParamOptions options;
    ParamTable table;
    ASSERT_TRUE(LoadParamFile(work + "/fromC.dat", options, table));
    EXPECT_TRUE(table == programme.table);

    r = RunOnFreeLine({"download", "--model", "KM27A", "--device", a, "KM27A.dat"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "校验一致")) << r.out;
    EXPECT_TRUE(boxes[0]->Frame() == SentFrame());
    r = RunOnFreeLine({"verify", "--model", "KM27A", "--device", a, "KM27A.dat"});
    EXPECT_EQ(r.code, 0) << r.err;
  }
}

TEST_F(CtlNetwork, AnAbsentServerOrALostConnectionFailsPromptlyAndWritesNothing) {
  const std::string absent = "tcp://127.0.0.1:" + std::to_string(sim::FreeTcpPort());
  const auto t0 = Clock::now();
  CtlResult r = Run({"download", "--model", "KM27A", "--device", absent, "--json", WriteProgramme()});
  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  EXPECT_TRUE(Has(r.err, absent.substr(6))) << r.err;  // names the address

  // The connection goes while block 5 of an upload comes: as an unplugged line, no file.
  const std::set<std::string> before = Listing(work);
  DelayRelay relay(lines[0].port, 0);
  auto p = Start({"upload", "--model", "KM27C", "--device", Url("rfc2217", relay.Port()), "cut.dat"});
  ASSERT_TRUE(WaitFor([&] { return transmitters[0]->GetStats().reads[4] > 0; }, 30000));
  relay.Cut();
  ASSERT_TRUE(p->WaitExit(30000));
  EXPECT_EQ(p->ExitCode(), 5) << p->Err();
  EXPECT_EQ(Listing(work), before);
}

}  // namespace
}  // namespace km27::testing
