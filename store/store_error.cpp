#include "store/store_error.h"

#include <cstring>
#include <iterator>

#include "model/code_catalogue.h"
#include "model/status_texts.h"
#include "store/file_io.h"
#include "store/param_file.h"
#include "store/programme_csv.h"

namespace km27 {

namespace {

std::string Quoted(const std::string& s) { return "“" + s + "”"; }

std::string CarrierName(const StoreDetail& d) { return d.carrier >= 0 ? Carrier(d.carrier).caption : ""; }

std::string FamilyOf(const StoreDetail& d) { return d.family >= 0 ? FamilyName(SignalFamily(d.family)) : ""; }

std::string OfferedSecondsText() {
  std::string s;
  for (const std::string& item : DurationItems()) s += (s.empty() ? "" : "、") + std::to_string(DurationSeconds(item));
  return s + " 秒";
}

std::string HeaderRow() {
  std::string s;
  for (const char* column : kCsvHeader) s += (s.empty() ? "" : ",") + std::string(column);
  return s;
}

}  // namespace

std::string FileErrorText(const char* lead, int err) {
  return std::string(lead) + "：" + SystemErrorText(err);
}

std::string StoreErrorText(const StoreFailure& f) {
  const StoreDetail& d = f.detail;
  const std::string number = std::to_string(d.number);
  switch (f.code) {
    case StoreError::kNone: return {};
    case StoreError::kNotFound: return "文件不存在";
    case StoreError::kCannotOpen: return FileErrorText("无法打开", f.sysError);
    case StoreError::kNotRegularFile: return "同名的不是普通文件（例如是一个文件夹）";
    case StoreError::kTooLarge: return "文件过大（" + number + " 字节）";
    case StoreError::kTooLargeUnsized: return "文件过大（超过 " + number + " 字节）";
    case StoreError::kCannotRead: return FileErrorText("无法读取", f.sysError);
    case StoreError::kPathTooLong:
    case StoreError::kSavePathTooLong: return FileErrorText("路径过长", f.sysError);
    case StoreError::kNotReplaceable: return FileErrorText("同名的不是普通文件，未被替换", f.sysError);
    case StoreError::kReadOnly: return FileErrorText("文件为只读，未被替换", f.sysError);
    case StoreError::kCannotCreate: return FileErrorText("无法在该文件夹中建立文件", f.sysError);
    case StoreError::kCannotWrite: return FileErrorText("无法写入文件", f.sysError);
    case StoreError::kCannotLink: return FileErrorText("无法建立文件", f.sysError);
    case StoreError::kCannotReplace: return FileErrorText("无法替换原文件", f.sysError);
    case StoreError::kTooManyCopies: return "同名的副本过多";
    case StoreError::kNotGbk: return "帮助文字含有 GBK 无法表示的字符";
    case StoreError::kUnreadableAtStart:
      return "启动时无法读取该文件，为免丢失其内容，不予覆盖（" + (d.cause ? StoreErrorText(*d.cause) : "") + "）";
    case StoreError::kWrongSize:
      return "文件长度为 " + number + " 字节，应为 " + std::to_string(kParamFileSize) + " 字节";
    case StoreError::kOverSize: return "文件长度超过 " + std::to_string(kParamFileSize) + " 字节";
    case StoreError::kWrongMaker: return std::string("文件头的厂家名称不是“") + text::kMaker + "”";
    case StoreError::kWrongVersion:
      return std::string("文件头的版本不是“") + text::kFileVersion + "”，可能由其他版本的软件生成";
    case StoreError::kIncomplete: return "内容不完整：应为 4 行、每行 24 个数值";
    case StoreError::kNotText: return "这一行既不是 UTF-8 也不是 GBK 编码的文字";
    case StoreError::kMixedEncoding: return "文件中 UTF-8 与 GBK 编码混用（应整个文件用同一种编码）";
    case StoreError::kUnpairedQuote: return "引号没有成对";
    case StoreError::kTextAfterQuote: return "引号外还有文字（含引号的内容应整格放在引号内）";
    case StoreError::kTooManyColumns:
      return "多于 " + std::to_string(std::size(kCsvHeader)) + " 列（应为：" + HeaderRow() + "）";
    case StoreError::kNoHeader: return "第一行应为表头" + Quoted(HeaderRow());
    case StoreError::kEmptyTable: return "文件是空的，没有表头" + Quoted(HeaderRow());
    case StoreError::kUnknownCarrier: return "未知的载频" + Quoted(d.value);
    case StoreError::kMissingCell:
      return d.number >= 0 && size_t(d.number) < std::size(kCsvHeader) ? std::string("缺少") + kCsvHeader[d.number]
                                                                        : std::string("缺少");
    case StoreError::kNoMoreSteps:
      return "载频 " + CarrierName(d) + " 已有 " + std::to_string(kEditableSlots) + " 步，不能再有第" + Quoted(d.value) +
             "步";
    case StoreError::kStepBeyondLast:
      return "载频 " + CarrierName(d) + " 超过 " + std::to_string(kEditableSlots) + " 步";
    case StoreError::kStepOutOfOrder:
      return "载频 " + CarrierName(d) + " 的步号" + Quoted(d.value) + "不对，应为 " + number +
             "（每个载频的步号从 1 起依次排列）";
    case StoreError::kUnknownCode:
      return "未知的低频" + Quoted(d.value) + "（" +
             (d.carrier >= 0 ? FamilyName(FamilyOfCarrier(d.carrier)) : "") + "载频 " + CarrierName(d) +
             " 没有此低频）";
    case StoreError::kUnofferedTime: return "时间" + Quoted(d.value) + "不是可选的时间（" + OfferedSecondsText() + "）";
    case StoreError::kUnknownLineFamily:
      return "线路设置的类型" + Quoted(d.value) + "未知（应为 移频、UM71 或 ZPW2000）";
    case StoreError::kNoLineSetting: return FamilyOf(d) + "没有线路设置";
    case StoreError::kRepeatedLineSetting: return FamilyOf(d) + "的线路设置重复";
    case StoreError::kUnknownLineSetting: {
      const LineRadioState s = LineRadiosFor(CodeBox, SignalFamily(d.family), ParamOptions{});
      return FamilyOf(d) + "的线路设置" + Quoted(d.value) + "应为" + Quoted(s.caption0) + "或" + Quoted(s.caption1);
    }
    case StoreError::kLineCellNotEmpty: return "线路设置行的第 4 格应为空";
    case StoreError::kUnknownCheckOwner: return "校验字节所属的" + Quoted(d.value) + "未知（应为 参数头 或一个载频）";
    case StoreError::kBadCheckByte: return "校验字节应为 0 到 255 的整数，第 4 格为空";
    case StoreError::kRepeatedCheckByte: return Quoted(d.value) + "的校验字节重复";
  }
  return {};
}

}  // namespace km27
