// The transfer log: whole lines from writers appending at once, rotation that loses none, and a
// reader that skips what is no record.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "store/transfer_log.h"
#include "temp_dir.h"

namespace km27 {
namespace {

TransferRecord Sample(int writer, int n) {
  TransferRecord r;
  r.program = "km27ctl";
  r.version = "1";
  r.action = "download";
  r.model = "KM27C";
  r.com = writer;
  r.device = "/dev/pts/" + std::to_string(n);
  r.file = "/home/操作员/程序.dat";
  r.programmeSha256 = std::string(64, 'a');
  r.result = "verify_mismatch";
  r.differences = R"([{"carrier":"650 Hz","step":4,"sent":{"code":1,"seconds":8},"read":{"code":1,"seconds":9}}])";
  StampRecord(r);
  return r;
}

TEST(TransferLog, WritersAppendingAtOnceLoseNoLineThroughARotation) {
  TempDir tmp("log");
  const std::string path = tmp.path + "/state/km27param/transfers.jsonl";  // folders made on the way
  constexpr int kEach = 200;
  // Small enough that the file turns over once, at about 60 % of all records.
  const long long rotateAt = (long long)(RecordLine(Sample(1, 100)).size() + 1) * kEach * 2 * 6 / 10;
  std::vector<std::thread> writers;
  for (int w = 1; w <= 2; ++w)
    writers.emplace_back([&, w] {
      for (int n = 0; n < kEach; ++n) ASSERT_TRUE(AppendTransferRecord(path, Sample(w, 100 + n), rotateAt).ok);
    });
  for (auto& t : writers) t.join();

  // A line a crash cut short, and one a person wrote, are no records.
  std::ofstream(path, std::ios::app) << "{\"time\":\"2026-12-08T10:00:00+08:00\",\"act\n" << "notes\n";
  const std::vector<TransferRecord> all = ReadTransferLog(path);
  ASSERT_EQ(all.size(), size_t(2 * kEach));
  std::set<std::pair<int, std::string>> seen;
  int last[3] = {0, 99, 99};
  for (const TransferRecord& r : all) {
    seen.insert({r.com, r.device});
    const int n = std::stoi(r.device.substr(9));
    EXPECT_GT(n, last[r.com]) << "each writer's records in its order";
    last[r.com] = n;
    EXPECT_EQ(r.file, "/home/操作员/程序.dat");
    EXPECT_EQ(r.differences, Sample(1, 1).differences);
  }
  EXPECT_EQ(seen.size(), size_t(2 * kEach));
  EXPECT_TRUE(std::regex_match(all.front().time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
      << all.front().time;
  EXPECT_FALSE(all.front().user.empty());
}

}  // namespace
}  // namespace km27
