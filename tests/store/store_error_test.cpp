#include "store/store_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "model/messages.h"

namespace km27 {
namespace {

// The system's error is given to every code; only those that name it show it.
StoreFailure F(StoreError code, std::string value = {}, int carrier = -1, int family = -1, long long number = 0) {
  StoreFailure f{code, EACCES, {}};
  f.detail.value = std::move(value);
  f.detail.carrier = carrier;
  f.detail.family = family;
  f.detail.number = number;
  return f;
}

// Each code has its own words, and they are the words the operator has always read.
TEST(StoreErrorText, EachCodeGivesItsWords) {
  // A common cause reads in the interface's words, not the C library's.
  const std::string sys = "：权限不够";
  StoreFailure kept = F(StoreError::kUnreadableAtStart);
  kept.detail.cause = std::make_shared<const StoreFailure>(F(StoreError::kWrongSize, "", -1, -1, 1000));
  const struct {
    StoreFailure failure;
    std::string text;
  } cases[] = {
      {F(StoreError::kNone), ""}, {F(StoreError::kNotFound), "文件不存在"},
      {F(StoreError::kCannotOpen), "无法打开" + sys}, {F(StoreError::kCannotRead), "无法读取" + sys},
      {F(StoreError::kNotRegularFile), "同名的不是普通文件（例如是一个文件夹）"},
      {F(StoreError::kTooLarge, "", -1, -1, 2000000), "文件过大（2000000 字节）"},
      {F(StoreError::kTooLargeUnsized, "", -1, -1, 16), "文件过大（超过 16 字节）"},
      {F(StoreError::kPathTooLong), "路径过长" + sys}, {F(StoreError::kSavePathTooLong), "路径过长" + sys},
      {F(StoreError::kNotReplaceable), "同名的不是普通文件，未被替换" + sys},
      {F(StoreError::kReadOnly), "文件为只读，未被替换" + sys},
      {F(StoreError::kCannotCreate), "无法在该文件夹中建立文件" + sys},
      {F(StoreError::kCannotWrite), "无法写入文件" + sys}, {F(StoreError::kCannotLink), "无法建立文件" + sys},
      {F(StoreError::kCannotReplace), "无法替换原文件" + sys}, {F(StoreError::kTooManyCopies), "同名的副本过多"},
      {F(StoreError::kNotGbk), "帮助文字含有 GBK 无法表示的字符"},
      {kept, "启动时无法读取该文件，为免丢失其内容，不予覆盖（文件长度为 1000 字节，应为 1056 字节）"},
      {F(StoreError::kOverSize), "文件长度超过 1056 字节"},
      {F(StoreError::kWrongMaker), "文件头的厂家名称不是“岚曜测控技术研究有限公司”"},
      {F(StoreError::kWrongVersion), "文件头的版本不是“KM27A 1.0”，可能由其他版本的软件生成"},
      {F(StoreError::kIncomplete), "内容不完整：应为 4 行、每行 24 个数值"},
      {F(StoreError::kNotText), "这一行既不是 UTF-8 也不是 GBK 编码的文字"},
      {F(StoreError::kMixedEncoding), "文件中 UTF-8 与 GBK 编码混用（应整个文件用同一种编码）"},
      {F(StoreError::kUnpairedQuote), "引号没有成对"},
      {F(StoreError::kTextAfterQuote), "引号外还有文字（含引号的内容应整格放在引号内）"},
      {F(StoreError::kTooManyColumns), "多于 4 列（应为：载频,步,低频,时间(秒)）"},
      {F(StoreError::kNoHeader), "第一行应为表头“载频,步,低频,时间(秒)”"},
      {F(StoreError::kEmptyTable), "文件是空的，没有表头“载频,步,低频,时间(秒)”"},
      {F(StoreError::kUnknownCarrier, "560 Hz"), "未知的载频“560 Hz”"},
      {F(StoreError::kMissingCell, "", 0, -1, 3), "缺少时间(秒)"},
      {F(StoreError::kNoMoreSteps, "21", 1), "载频 650 Hz 已有 20 步，不能再有第“21”步"},
      {F(StoreError::kStepBeyondLast, "", 0), "载频 550 Hz 超过 20 步"},
      {F(StoreError::kStepOutOfOrder, "3", 0, -1, 2), "载频 550 Hz 的步号“3”不对，应为 2（每个载频的步号从 1 起依次排列）"},
      {F(StoreError::kUnknownCode, "10.3 Hz", 0), "未知的低频“10.3 Hz”（移频载频 550 Hz 没有此低频）"},
      {F(StoreError::kUnofferedTime, "2"), "时间“2”不是可选的时间（3、4、5、6、7、8、9、10、15、20、30、40、50、60 秒）"},
      {F(StoreError::kUnknownLineFamily, "UM72"), "线路设置的类型“UM72”未知（应为 移频、UM71 或 ZPW2000）"},
      {F(StoreError::kNoLineSetting, "", -1, 3), "交流计数没有线路设置"},
      {F(StoreError::kRepeatedLineSetting, "", -1, 1), "UM71的线路设置重复"},
      {F(StoreError::kUnknownLineSetting, "x", -1, 1), "UM71的线路设置“x”应为“TB3060”或“规范模式”"},
      {F(StoreError::kLineCellNotEmpty), "线路设置行的第 4 格应为空"},
      {F(StoreError::kUnknownCheckOwner, "备用"), "校验字节所属的“备用”未知（应为 参数头 或一个载频）"},
      {F(StoreError::kBadCheckByte), "校验字节应为 0 到 255 的整数，第 4 格为空"},
      {F(StoreError::kRepeatedCheckByte, "550 Hz"), "“550 Hz”的校验字节重复"},
  };
  for (const auto& c : cases) EXPECT_EQ(StoreErrorText(c.failure), c.text) << int(c.failure.code);
}

// In English the values land where English grammar puts them, and the reason is English too.
TEST(StoreErrorText, EnglishPutsEachValueInItsPlace) {
  SetLanguage(Language::kEnglish);
  const struct {
    StoreFailure failure;
    std::string text;
  } cases[] = {
      {F(StoreError::kCannotOpen), "cannot open: permission denied"},
      {F(StoreError::kStepOutOfOrder, "3", 0, -1, 2),
       "carrier 550 Hz: step number \"3\" is wrong, it should be 2 (each carrier's steps are numbered from 1 in order)"},
      {F(StoreError::kUnknownCode, "10.3 Hz", 0), "unknown code \"10.3 Hz\" (the FSK carrier 550 Hz has no such code)"},
      {F(StoreError::kUnknownLineSetting, "x", -1, 0),
       "the line setting \"x\" of FSK should be \"\"1.9\" FSK\" or \"TB3060-2002\""},
      {F(StoreError::kUnofferedTime, "2"),
       "the time \"2\" is not one of the times offered (3, 4, 5, 6, 7, 8, 9, 10, 15, 20, 30, 40, 50, 60 s)"},
  };
  for (const auto& c : cases) EXPECT_EQ(StoreErrorText(c.failure), c.text) << int(c.failure.code);
  SetLanguage(Language::kChinese);
}

}  // namespace
}  // namespace km27
