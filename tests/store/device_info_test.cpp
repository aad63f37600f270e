#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "store/device_info.h"
#include "store/gbk.h"
#include "temp_dir.h"

namespace km27 {
namespace {

struct InfoDir : TempDir {
  InfoDir() : TempDir("ddinfo") {}
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path + "/" + name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(path + "/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
};

std::array<uint8_t, 96> Parse(const std::string& text) {
  std::array<uint8_t, 96> info{};
  ParseDeviceInfo(text, info.data());
  return info;
}

TEST(DeviceInfo, HeadersAndWrittenForm) {
  EXPECT_EQ(DeviceInfoHeader(0), "//国内移频");
  EXPECT_EQ(DeviceInfoHeader(1), "//UM71");
  EXPECT_EQ(DeviceInfoHeader(2), "//ZPW2000");
  EXPECT_EQ(DeviceInfoHeader(3), "//交流计数");
  EXPECT_EQ(DeviceInfoHeader(4), "");
  EXPECT_EQ(DeviceInfoHeader(-1), "");

  uint8_t zeros[96] = {};
  std::string text = FormatDeviceInfo(zeros);
  std::string zeroLine;
  for (int i = 0; i < 24; ++i) zeroLine += "0,";
  std::string expected;
  for (int r = 0; r < 4; ++r) expected += Utf8ToGbk(DeviceInfoHeader(r)) + "\r\n" + zeroLine + "\r\n";
  EXPECT_EQ(text, expected);
  EXPECT_EQ(zeroLine.size(), 48u);
  EXPECT_EQ(text.substr(0, 10), "\x2F\x2F\xB9\xFA\xC4\xDA\xD2\xC6\xC6\xB5");  // GBK, no byte-order mark
}

TEST(DeviceInfo, SaveThenLoadGivesBackAll96Values) {
  InfoDir dir;
  DeviceInfo img;
  for (size_t i = 0; i < 96; ++i) img[i] = uint8_t(i * 37);
  img[0] = 0;
  img[95] = 255;
  ASSERT_TRUE(SaveDeviceInfo(dir.path, img).ok);
  DeviceInfo back;
  back.fill(0x77);
  ASSERT_TRUE(LoadDeviceInfo(dir.path, back));
  EXPECT_EQ(back, img);
}

TEST(DeviceInfo, MissingFileZeroesTheImage) {
  InfoDir dir;
  DeviceInfo img;
  img.fill(3);
  EXPECT_FALSE(LoadDeviceInfo(dir.path, img));
  for (uint8_t b : img) ASSERT_EQ(b, 0);
}

TEST(DeviceInfo, LenientReader) {
  // Value lines alone read like the full file.
  auto bare = Parse("1,2,\r\n3,\r\n4,\r\n5,\r\n");
  auto full = Parse("//a\r\n1,2,\r\n//b\r\n3,\r\n//c\r\n4,\r\n//d\r\n5,\r\n");
  EXPECT_EQ(bare, full);
  EXPECT_EQ(bare[0], 1);
  EXPECT_EQ(bare[1], 2);
  EXPECT_EQ(bare[24], 3);
  EXPECT_EQ(bare[72], 5);

  // An empty line takes a row; the last value line falls off the end.
  auto gap = Parse("1,\n\n2,\n3,\n4,\n");
  EXPECT_EQ(gap[0], 1);
  EXPECT_EQ(gap[24], 0);
  EXPECT_EQ(gap[48], 2);
  EXPECT_EQ(gap[72], 3);

  // A comment anywhere in the line makes the whole line a comment.
  auto comment = Parse("12,7,//spare\n9,\n");
  EXPECT_EQ(comment[0], 9);

  // Fields: the last value needs its comma; the comma search starts at a field's second character.
  auto fields = Parse("1,2,3\n1,,2,\n300,-1,256,\n 1 2\t,x7,+5,\n");
  EXPECT_EQ(fields[0], 1);
  EXPECT_EQ(fields[1], 2);
  EXPECT_EQ(fields[2], 0);
  EXPECT_EQ(fields[24], 1);
  EXPECT_EQ(fields[25], 0);  // ",2" converts to 0
  EXPECT_EQ(fields[26], 0);
  EXPECT_EQ(fields[48], 44);
  EXPECT_EQ(fields[49], 255);
  EXPECT_EQ(fields[50], 0);
  EXPECT_EQ(fields[72], 12);  // blanks and tabs removed before reading
  EXPECT_EQ(fields[73], 0);
  EXPECT_EQ(fields[74], 5);
}

TEST(DeviceInfo, NothingBeyondThe96BytesIsWritten) {
  std::string longLine;
  for (int i = 0; i < 40; ++i) longLine += std::to_string(i + 1) + ",";
  struct Guarded {
    uint8_t info[96];
    uint8_t after[64];
  } g{};
  std::fill(std::begin(g.after), std::end(g.after), 0xEE);
  std::string text;
  for (int r = 0; r < 7; ++r) text += longLine + "\r\n";
  ParseDeviceInfo(text, g.info);
  for (uint8_t b : g.after) ASSERT_EQ(b, 0xEE);
  EXPECT_EQ(g.info[23], 24);  // each row keeps its own first 24 values
  EXPECT_EQ(g.info[24], 1);
  EXPECT_EQ(g.info[95], 24);
}

TEST(DeviceInfo, OverlongStartDirectorySkipsTheFile) {
  std::string dir(PATH_MAX, 'd');
  dir = "/tmp/" + dir;
  EXPECT_EQ(DeviceInfoPath(dir), "");
  DeviceInfo img{};
  EXPECT_FALSE(LoadDeviceInfo(dir, img));
  EXPECT_FALSE(SaveDeviceInfo(dir, img).ok);
  EXPECT_EQ(DeviceInfoPath("/tmp/x"), "/tmp/x/DDINFO.txt");
}

TEST(DeviceInfo, AFolderOfThatNameIsAFailedReadAndAFailedSave) {
  // Read through a stream, a folder threw out of the window's start-up and ended the tool.
  InfoDir dir;
  ASSERT_TRUE(std::filesystem::create_directory(dir.path + "/DDINFO.txt"));
  DeviceInfo img{};
  img[5] = 7;
  EXPECT_FALSE(LoadDeviceInfo(dir.path, img));
  EXPECT_EQ(img[5], 0);
  const SaveResult r = SaveDeviceInfo(dir.path, img);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.path, dir.path + "/DDINFO.txt");
  EXPECT_EQ(r.failure.code, StoreError::kNotReplaceable);
}

TEST(DeviceInfo, FailedSaveKeepsTheOldFile) {
  InfoDir dir;
  dir.Write("DDINFO.txt", "old");
  DeviceInfo img{};
  std::string missing = dir.path + "/no/such/dir";
  EXPECT_FALSE(SaveDeviceInfo(missing, img).ok);
  EXPECT_EQ(dir.Read("DDINFO.txt"), "old");
  ASSERT_TRUE(SaveDeviceInfo(dir.path, img).ok);
  EXPECT_EQ(dir.Read("DDINFO.txt"), FormatDeviceInfo(img.data()));
}

}  // namespace
}  // namespace km27
