// The programme as a spreadsheet table: exact round trips, the forms spreadsheets write, and
// a refusal naming the line for each kind of bad row.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "store/gbk.h"
#include "store/param_file.h"
#include "store/programme_csv.h"

using namespace km27;

namespace {

const CodeCatalogue kCat;
const char kHead[] = "载频,步,低频,时间(秒)\r\n";

// Steps on every carrier drawn from what the window offers, line settings, and the check bytes
// a code box leaves behind; the masks as editing keeps them.
Programme RandomProgramme(std::mt19937& rng, int maxSteps = 20) {
  Programme p;
  const std::vector<std::string>& durations = DurationItems();
  for (int c = 0; c < kCarrierCount; ++c) {
    const int codes = int(kCat.ComboItems(FamilyOfCarrier(c)).size());
    const int n = int(rng() % unsigned(maxSteps + 1));
    for (int s = 0; s < n; ++s)
      p.table.SetEntry(c, s, {uint8_t(rng() % unsigned(codes)), uint8_t(DurationSeconds(durations[rng() % durations.size()]))});
    if (rng() % 4 == 0) p.table.SetEntry(c, kSlotsPerBlock - 1, {0, uint8_t(rng())});
  }
  for (int f = 0; f < kLineOptionFamilies; ++f) p.options.SetLineOption(f, uint8_t(rng() % 2));
  if (rng() % 2) p.options.SetCheckByte(uint8_t(rng()));
  UpdateCarrierMask(p.table, p.options);
  return p;
}

CsvImport Parse(const std::string& body) { return ParseProgrammeCsv(std::string(kHead) + body, kCat); }

TEST(ProgrammeCsv, ExportThenImportGivesTheSameFileByteForByte) {
  std::mt19937 rng(2024);
  std::set<std::pair<int, int>> codesSeen;  // (family, code)
  std::set<int> secondsSeen;
  for (int round = 0; round < 300; ++round) {
    const Programme p = RandomProgramme(rng, round == 0 ? 0 : 20);
    ASSERT_EQ(CsvExportProblem(p, kCat), "");
    const CsvImport back = ParseProgrammeCsv(FormatProgrammeCsv(p, kCat), kCat);
    ASSERT_TRUE(back.ok) << back.Message();
    ASSERT_EQ(BuildParamFileImage(back.programme.options, back.programme.table),
              BuildParamFileImage(p.options, p.table))
        << "round " << round;
    for (int c = 0; c < kCarrierCount; ++c)
      for (int s = 0; s < kEditableSlots && p.table.Occupied(c, s); ++s) {
        codesSeen.insert({FamilyOfCarrier(c), p.table.Entry(c, s).code});
        secondsSeen.insert(p.table.Entry(c, s).seconds);
      }
  }
  // Every code of every family and every duration went through the round trip.
  size_t codes = 0;
  for (SignalFamily f = 0; f < kFamilyCount; ++f) codes += kCat.ComboItems(f).size();
  EXPECT_EQ(codesSeen.size(), codes);
  EXPECT_EQ(secondsSeen.size(), DurationItems().size());

  // Written in English (no Chinese in it), read back whatever the interface's language.
  SetLanguage(Language::kEnglish);
  const CodeCatalogue english;
  std::vector<std::pair<Programme, std::string>> written;
  for (int round = 0; round < 30; ++round) {
    const Programme p = RandomProgramme(rng);
    written.push_back({p, FormatProgrammeCsv(p, english)});
  }
  SetLanguage(Language::kChinese);
  for (const auto& [p, text] : written) {
    EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char ch) { return uint8_t(ch) >= 0xE3 && uint8_t(ch) <= 0xE9; }))
        << text;
    const CsvImport back = ParseProgrammeCsv(text, kCat);
    ASSERT_TRUE(back.ok) << back.Message();
    EXPECT_EQ(BuildParamFileImage(back.programme.options, back.programme.table), BuildParamFileImage(p.options, p.table));
  }
}

TEST(ProgrammeCsv, WritesReadableRowsAndReadsWhatSpreadsheetsMakeOfThem) {
  Programme p;
  p.table.SetEntry(13, 0, {19, 60});  // 1998.7HZ (so written on its radio), 上边频
  p.table.SetEntry(13, 1, {0, 3});
  p.options.SetLineOption(0, 0);
  p.options.SetLineOption(2, 1);
  UpdateCarrierMask(p.table, p.options);
  const std::string text = FormatProgrammeCsv(p, kCat);
  EXPECT_EQ(text,
            "\xEF\xBB\xBF"
            "载频,步,低频,时间(秒)\r\n"
            "1998.7HZ,1,上边频,60\r\n"
            "1998.7HZ,2,无码,3\r\n"
            "线路,移频,\"\"\"1.9\"\"移频\",\r\n"
            "线路,UM71,TB3060,\r\n"
            "线路,ZPW2000,规范模式,\r\n");

  // No byte-order mark, LF line ends, padded and empty rows, other spacing and case, a unit
  // after the seconds, quotes only where needed, the line rows left out for UM71.
  const std::string edited =
      "载频, 步 ,低频,时间(秒),,\n"
      ",,,\n"
      "1998.7 Hz,1,上边频,60 秒,\n"
      "\n"
      "1998.7hz,\"2\",无码,3\n"
      "线路,移频,1.9移频\n"
      "线路,ZPW2000,规范模式\n";
  const CsvImport back = ParseProgrammeCsv(edited, kCat);
  ASSERT_TRUE(back.ok) << back.Message();
  EXPECT_TRUE(back.programme == p);

  // A spreadsheet on a Chinese system saves CSV in GBK.
  const CsvImport gbk = ParseProgrammeCsv(Utf8ToGbk(text.substr(3)), kCat);
  ASSERT_TRUE(gbk.ok) << gbk.Message();
  EXPECT_TRUE(gbk.programme == p);

  // Carriers may come in any order; each carrier's steps in theirs.
  const CsvImport mixed = Parse("550 Hz,1,7.0 Hz,3\r\n25 Hz,1,AL,4\r\n550 Hz,2,8.0 Hz,5\r\n");
  ASSERT_TRUE(mixed.ok) << mixed.Message();
  EXPECT_EQ(mixed.programme.table.Entry(0, 1), (ParamEntry{2, 5}));
  EXPECT_EQ(mixed.programme.options.MaskByte(3), 0x01);

  // Only step rows: the steps replace the current ones; line settings and check bytes stay.
  p.options.SetCheckByte(0x5A);
  p.table.SetEntry(13, kSlotsPerBlock - 1, {0, 7});
  const CsvImport kept = ParseProgrammeCsv(std::string(kHead) + "550 Hz,1,7.0 Hz,3\r\n", kCat, p);
  ASSERT_TRUE(kept.ok) << kept.Message();
  Programme expected;
  expected.options = p.options;
  expected.table.SetEntry(0, 0, {1, 3});
  expected.table.SetEntry(13, kSlotsPerBlock - 1, {0, 7});
  UpdateCarrierMask(expected.table, expected.options);
  EXPECT_TRUE(kept.programme == expected);
  EXPECT_EQ(kept.Taken(), "步骤，线路设置未变");
}

struct BadRow {
  std::string body;  // after the header row (line 1)
  int line;
  StoreError code;
  std::string value;  // the cell at fault, as the message shows it
};

TEST(ProgrammeCsv, RefusesTheWholeFileAtTheFirstBadRowNamingLineAndCause) {
  std::string twenty;
  for (int s = 1; s <= 20; ++s) twenty += "650 Hz," + std::to_string(s) + ",无码,3\r\n";
  const BadRow cases[] = {
      {"550 Hz,1,7.0 Hz,3\r\n560 Hz,1,7.0 Hz,3\r\n", 3, StoreError::kUnknownCarrier, "560 Hz"},
      {"550 Hz,1,10.3 Hz,3\r\n", 2, StoreError::kUnknownCode, "10.3 Hz"},  // a UM71 code on a 移频 carrier
      {"25 Hz,1,FF,3\r\n", 2, StoreError::kUnknownCode, "FF"},             // never offered
      {"1700 Hz,1,无码,2\r\n", 2, StoreError::kUnofferedTime, "2"},
      {"1700 Hz,1,无码,61\r\n", 2, StoreError::kUnofferedTime, "61"},
      {"1700 Hz,1,无码,3.5\r\n", 2, StoreError::kUnofferedTime, "3.5"},
      {twenty + "650 Hz,20,无码,3\r\n", 22, StoreError::kNoMoreSteps, "20"},  // no step number to suggest
      {"550 Hz,25,7.0 Hz,3\r\n", 2, StoreError::kStepBeyondLast, ""},
      {std::string("550 Hz,1,7.0 Hz\0,3\r\n", 21), 2, StoreError::kUnknownCode, "7.0 Hz␀"},
      {"550 Hz,2,7.0 Hz,3\r\n", 2, StoreError::kStepOutOfOrder, "2"},
      {"550 Hz,1,7.0 Hz,3\r\n550 Hz,1,7.0 Hz,3\r\n", 3, StoreError::kStepOutOfOrder, "1"},
      {"550 Hz,1,7.0 Hz,3,x\r\n", 2, StoreError::kTooManyColumns, ""},
      {"550 Hz,1,7.0 Hz\r\n", 2, StoreError::kMissingCell, ""},
      {"550 Hz,1,\"7.0 Hz,3\r\n", 2, StoreError::kUnpairedQuote, ""},
      {"550 Hz,1,\"7.0\" Hz,3\r\n", 2, StoreError::kTextAfterQuote, ""},
      {"线路,交流计数,无,\r\n", 2, StoreError::kNoLineSetting, ""},
      {"线路,UM72,TB3060,\r\n", 2, StoreError::kUnknownLineFamily, "UM72"},
      {"线路,UM71,TB3060-2002,\r\n", 2, StoreError::kUnknownLineSetting, "TB3060-2002"},
      {"线路,UM71,TB3060,\r\n线路,UM71,规范模式,\r\n", 3, StoreError::kRepeatedLineSetting, ""},
      {"校验字节,参数头,256,\r\n", 2, StoreError::kBadCheckByte, ""},
      {"校验字节,550 Hz,1,\r\n校验字节,550 Hz,2,\r\n", 3, StoreError::kRepeatedCheckByte, "550 Hz"},
      {"校验字节,备用,1,\r\n", 2, StoreError::kUnknownCheckOwner, "备用"},
  };
  for (const BadRow& c : cases) {
    const CsvImport r = Parse(c.body);
    EXPECT_FALSE(r.ok) << c.body;
    EXPECT_EQ(r.failure.detail.line, c.line) << c.body << r.Message();
    EXPECT_EQ(r.failure.code, c.code) << c.body << " -> " << r.Message();
    EXPECT_EQ(r.failure.detail.value, c.value) << c.body << " -> " << r.Message();
    EXPECT_EQ(r.Message().rfind("第 " + std::to_string(c.line) + " 行：", 0), 0u) << r.Message();
  }
  // The file as a whole: no header, nothing at all, neither UTF-8 nor GBK.
  EXPECT_EQ(ParseProgrammeCsv("550 Hz,1,7.0 Hz,3\r\n", kCat).failure.detail.line, 1);
  EXPECT_EQ(ParseProgrammeCsv("", kCat).failure.code, StoreError::kEmptyTable);
  const CsvImport binary = ParseProgrammeCsv(std::string(kHead) + "550 Hz,1,7.0 Hz,3\r\n\xFF\xFE\x81\r\n", kCat);
  EXPECT_FALSE(binary.ok);
  EXPECT_EQ(binary.failure.detail.line, 3);
  EXPECT_EQ(ReadProgrammeCsv("/nonexistent/km27.csv", kCat).failure.code, StoreError::kCannotOpen);
}

TEST(ProgrammeCsv, SaysWhatATableCannotCarry) {
  const auto problem = [](auto change) {
    Programme p;
    p.table.SetEntry(4, 0, {1, 3});
    change(p);
    return CsvExportProblem(p, kCat);
  };
  // Masks as editing keeps them.
  EXPECT_NE(problem([](Programme&) {}), "");
  const auto masked = [](auto change) {
    return [change](Programme& p) {
      change(p);
      UpdateCarrierMask(p.table, p.options);
    };
  };
  EXPECT_EQ(problem(masked([](Programme&) {})), "");
  EXPECT_NE(problem(masked([](Programme& p) { p.table.SetEntry(4, 1, {1, 2}); })).find("时间 2 秒"), std::string::npos);
  EXPECT_NE(problem(masked([](Programme& p) { p.table.SetEntry(16, 0, {13, 3}); })).find("不在低频表中"),
            std::string::npos);
  EXPECT_NE(problem(masked([](Programme& p) { p.table.SetEntry(4, 2, {1, 3}); })).find("空位"), std::string::npos);
  EXPECT_NE(problem(masked([](Programme& p) { p.table.SetEntry(4, 21, {1, 3}); })).find("第 20 步之后"),
            std::string::npos);
  EXPECT_NE(problem(masked([](Programme& p) { p.table.bytes[kTableBytes - 1] = 1; })).find("备用区"),
            std::string::npos);
  EXPECT_NE(problem(masked([](Programme& p) { p.options.SetLineOption(1, 2); })).find("UM71"), std::string::npos);
  EXPECT_NE(problem(masked([](Programme& p) { p.options.SetMaskByte(0, 0x10); })).find("使用标志"),
            std::string::npos);
}

}  // namespace
