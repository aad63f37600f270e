#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "store/gbk.h"
#include "store/param_file.h"
#include "temp_dir.h"

using namespace km27;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// The file as its layout describes it, written out by hand rather than by the code under test.
Bytes GoldenFile(const ParamOptions& o, const ParamTable& t) {
  const uint8_t maker[] = {0xe1, 0xb0, 0xea, 0xd7, 0xb2, 0xe2, 0xbf, 0xd8, 0xbc, 0xbc, 0xca, 0xf5,
                           0xd1, 0xd0, 0xbe, 0xbf, 0xd3, 0xd0, 0xcf, 0xde, 0xb9, 0xab, 0xcb, 0xbe};
  Bytes f(maker, maker + 24);
  f.resize(50, 0);
  for (char c : std::string("KM27A 1.0")) f.push_back(uint8_t(c));
  f.resize(88, 0);
  f.insert(f.end(), o.bytes.begin(), o.bytes.end());
  f.insert(f.end(), t.bytes.begin(), t.bytes.end());
  return f;
}

class ParamFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
  }
  void Write(const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  Bytes Read() const {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  int FileCount() const { return int(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }

  static void Sample(ParamOptions& o, ParamTable& t) {
    o.bytes = {1, 0, 1, 0x05, 0x02, 0x80, 0x04, 0x75};
    t.SetEntry(0, 0, {2, 8});
    t.SetEntry(2, 1, {20, 60});
    t.SetEntry(5, 0, {0, 3});
    t.SetEntry(15, 19, {19, 30});
    t.SetEntry(18, 0, {11, 3});
    t.SetEntry(19, 23, {0xAB, 0xCD});  // spare block travels along untouched
  }

  TempDir tmp{"paramfile"};
  const std::string dir = tmp.path, path = dir + "/KM27A.dat";
};

}  // namespace

TEST_F(ParamFile, SaveWritesTheLayoutByteForByte) {
  ParamOptions o;
  ParamTable t;
  Sample(o, t);
  SaveResult r = SaveParamFile(path, o, t);
  ASSERT_TRUE(r.ok) << StoreErrorText(r.failure);
  EXPECT_EQ(Read(), GoldenFile(o, t));
  EXPECT_EQ(Read().size(), 1056u);
  EXPECT_EQ(FileCount(), 1);  // no temporary file left beside it
}

TEST_F(ParamFile, ClearedProgrammeIsHeaderPlusZeros) {
  ASSERT_TRUE(SaveParamFile(path, {}, {}).ok);
  const Bytes b = Read();
  const Bytes golden = GoldenFile({}, {});
  EXPECT_EQ(b, golden);
  for (size_t i = 88; i < b.size(); ++i) ASSERT_EQ(b[i], 0) << i;
}

TEST_F(ParamFile, LoadAcceptsOnlyTheExactFile) {
  ParamOptions o;
  ParamTable t;
  Sample(o, t);
  const Bytes good = GoldenFile(o, t);

  Write(good);
  ParamOptions lo;
  ParamTable lt;
  ASSERT_TRUE(LoadParamFile(path, lo, lt));
  EXPECT_EQ(lo, o);
  EXPECT_EQ(lt, t);

  for (size_t size : {size_t(1055), size_t(1057), size_t(0)}) {
    Bytes b = good;
    b.resize(size, 0);
    Write(b);
    ParamOptions xo;
    ParamTable xt;
    xt.SetEntry(3, 3, {1, 9});
    EXPECT_FALSE(LoadParamFile(path, xo, xt)) << size;
    EXPECT_EQ(xt.Entry(3, 3), (ParamEntry{1, 9})) << "state must stay untouched";
    EXPECT_EQ(xo, ParamOptions{});
  }
  ParamOptions xo;
  ParamTable xt;
  EXPECT_FALSE(LoadParamFile(dir + "/missing.dat", xo, xt));
}

TEST_F(ParamFile, HeaderTextsCountUpToTheirFirstZero) {
  Bytes b = GoldenFile({}, {});
  b[88] = 1;
  b[50 + 10] = 'x';  // "KM27A 1.0\0x..." still reads as "KM27A 1.0"
  b[50 + 11] = 'y';
  b[37] = 'z';  // bytes after the maker's zero don't count either
  Write(b);
  ParamOptions o;
  ParamTable t;
  ASSERT_TRUE(LoadParamFile(path, o, t));
  EXPECT_EQ(o.LineOption(0), 1);

  // Rewritten byte for byte, but for the tails of the header fields, which become zero.
  ASSERT_TRUE(SaveParamFile(path, o, t).ok);
  Bytes expected = b;
  expected[60] = expected[61] = expected[37] = 0;
  EXPECT_EQ(Read(), expected);
}

TEST_F(ParamFile, HeaderMismatchesAreRejected) {
  const Bytes good = GoldenFile({}, {});
  Bytes version = good;
  version[50 + 8] = '1';  // "KM27A 1.1"
  Bytes makerRunOn = good;
  makerRunOn[24] = 'X';  // the name runs on with no zero after it
  Bytes makerNoZero = good;
  for (size_t i = 24; i < 50; ++i) makerNoZero[i] = 'A';
  Bytes lowerCase = good;
  lowerCase[50] = 'k';
  for (const Bytes* b : {&version, &makerRunOn, &makerNoZero, &lowerCase}) {
    Write(*b);
    ParamOptions o;
    ParamTable t;
    EXPECT_FALSE(LoadParamFile(path, o, t));
  }
}

TEST_F(ParamFile, OutOfRangeBytesAreKeptAsLoaded) {
  ParamOptions o;
  ParamTable t;
  o.bytes = {9, 255, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0x99};
  t.SetEntry(16, 0, {200, 250});
  Write(GoldenFile(o, t));
  ParamOptions lo;
  ParamTable lt;
  ASSERT_TRUE(LoadParamFile(path, lo, lt));
  ASSERT_TRUE(SaveParamFile(path, lo, lt).ok);
  EXPECT_EQ(Read(), GoldenFile(o, t));
}

TEST_F(ParamFile, StrayTemporaryFilesAreCleanedUp) {
  Write(GoldenFile({}, {}));
  std::ofstream(dir + "/KM27A.dat.tmp-abc123") << "half";
  std::ofstream(dir + "/other.txt") << "keep";
  ASSERT_TRUE(SaveParamFile(path, {}, {}).ok);
  EXPECT_FALSE(fs::exists(dir + "/KM27A.dat.tmp-abc123"));
  EXPECT_TRUE(fs::exists(dir + "/other.txt"));
}

// A working file the tool cannot use may be the operator's only copy of a programme: its bytes
// are kept under a name of their own before anything replaces it.
TEST_F(ParamFile, UnusableFilesAreKeptAsideBeforeAnythingReplacesThem) {
  const Bytes good = GoldenFile({}, {});
  Bytes otherVersion = good;
  otherVersion[50 + 6] = '2';  // "KM27A 2.0"
  Bytes otherMaker = good;
  otherMaker[0] = 'X';
  Bytes shorter = good;
  shorter.resize(1000, 0x5A);
  const time_t now = 1765121400;  // any fixed moment: two starts in one second keep both copies
  for (const Bytes* b : {&otherVersion, &otherMaker, &shorter}) {
    for (const auto& e : fs::directory_iterator(dir)) fs::remove(e.path());
    Write(*b);
    for (int start = 1; start <= 2; ++start) {
      ParamOptions o;
      ParamTable t;
      t.SetEntry(0, 0, {1, 3});
      const ParamFileStart r = LoadParamFileAtStart(path, o, t, now);
      EXPECT_EQ(r.kind, ParamFileStart::kUnreadable);
      EXPECT_EQ(t.Entry(0, 0), (ParamEntry{1, 3})) << "nothing of it is loaded";
      EXPECT_TRUE(r.MayReplace());
      ASSERT_FALSE(r.keptAs.empty()) << StoreErrorText(r.keepFailure);
      const std::string name = r.keptAs.substr(dir.size() + 1);
      EXPECT_EQ(name.rfind("KM27A.dat.unreadable-", 0), 0u) << name;
      EXPECT_EQ(name.size(), std::string("KM27A.dat.unreadable-20251207-153000").size() + (start == 1 ? 0 : 2)) << name;
      std::ifstream kept(r.keptAs, std::ios::binary);
      EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(kept), {}), *b);
      // What the operator is told: the file, why, and where its bytes are.
      const std::string m = r.Message();
      EXPECT_NE(m.find(path), std::string::npos) << m;
      EXPECT_NE(m.find(StoreErrorText(r.failure)), std::string::npos) << m;
      EXPECT_NE(m.find(r.keptAs), std::string::npos) << m;
    }
  }
  // The reasons tell the cases apart.
  ParamOptions o;
  ParamTable t;
  const StoreFailure size = ParamFileProblem(shorter.data(), shorter.size());
  EXPECT_EQ(size.code, StoreError::kWrongSize);
  EXPECT_EQ(size.detail.number, 1000);
  EXPECT_EQ(ParamFileProblem(otherVersion.data(), otherVersion.size()).code, StoreError::kWrongVersion);
  EXPECT_EQ(ParamFileProblem(otherMaker.data(), otherMaker.size()).code, StoreError::kWrongMaker);
  EXPECT_FALSE(ParamFileProblem(good.data(), good.size()).Failed());
}

TEST_F(ParamFile, StartUpTellsLoadedMissingAndUnopenableApart) {
  ParamOptions o;
  ParamTable t;
  ParamFileStart r = LoadParamFileAtStart(path, o, t, 0);
  EXPECT_EQ(r.kind, ParamFileStart::kMissing);
  EXPECT_TRUE(r.MayReplace());
  EXPECT_EQ(r.Message(), "");

  ParamOptions so;
  ParamTable st;
  Sample(so, st);
  Write(GoldenFile(so, st));
  r = LoadParamFileAtStart(path, o, t, 0);
  EXPECT_EQ(r.kind, ParamFileStart::kLoaded);
  EXPECT_EQ(t, st);
  EXPECT_EQ(r.Message(), "");

  // A folder of that name: reported, and never to be replaced.
  fs::remove(path);
  ASSERT_TRUE(fs::create_directory(path));
  r = LoadParamFileAtStart(path, o, t, 0);
  EXPECT_EQ(r.kind, ParamFileStart::kUnopenable);
  EXPECT_FALSE(r.MayReplace());
  EXPECT_NE(r.Message().find(path), std::string::npos);
  fs::remove(path);
}

TEST(Gbk, MakerNameRoundTrips) {
  bool ok = false;
  const std::string gbk = Utf8ToGbk("岚曜测控技术研究有限公司", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(gbk.size(), 24u);
  EXPECT_EQ(uint8_t(gbk[0]), 0xe1);
  EXPECT_EQ(uint8_t(gbk[23]), 0xbe);
  EXPECT_EQ(GbkToUtf8(gbk), "岚曜测控技术研究有限公司");
  // Both builds read a file alike: the user-defined area is refused by each, the euro sign's
  // single byte taken by each.
  const struct {
    std::string gbk;
    bool ok;
    std::string utf8;
  } kCases[] = {{"\x81", false, "?"},  // a lead byte with nothing after it
                {"\xAA\xA1", false, "??"},
                {"a\xA1\x40", false, "a?@"},
                {"\xFE\xFE", false, "??"},
                {"\x80", true, "€"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(GbkToUtf8(c.gbk, &ok), c.utf8) << c.utf8;
    EXPECT_EQ(ok, c.ok) << c.utf8;
  }
  EXPECT_EQ(Utf8ToGbk("€", &ok), "\x80");
  EXPECT_TRUE(ok);
  Utf8ToGbk("\xEE\x80\x80", &ok);  // a private-use character has no GBK form
  EXPECT_FALSE(ok);
}

// A file the operator opens: the programme, or the reason it is refused.
TEST_F(ParamFile, OpeningAChosenFileGivesTheProgrammeOrWhyNot) {
  ParamOptions o;
  ParamTable t;
  Sample(o, t);
  Write(GoldenFile(o, t));
  ParamFileRead r = ReadParamFile(path);
  ASSERT_TRUE(r.ok) << StoreErrorText(r.failure);
  EXPECT_EQ(r.programme.options, o);
  EXPECT_EQ(r.programme.table, t);

  Bytes longer = GoldenFile(o, t);
  longer.push_back(0);
  Write(longer);
  r = ReadParamFile(path);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure.code, StoreError::kWrongSize);
  EXPECT_EQ(r.failure.detail.number, 1057);
  Bytes otherVersion = GoldenFile(o, t);
  otherVersion[58] = '2';  // "KM27A 2.0"
  Write(otherVersion);
  EXPECT_EQ(ReadParamFile(path).failure.code, StoreError::kWrongVersion);
  EXPECT_EQ(ReadParamFile(dir + "/missing.dat").failure.code, StoreError::kCannotOpen);
  EXPECT_FALSE(ReadParamFile(dir).ok);  // a folder
}
