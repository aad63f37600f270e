#include "store/store_error.h"

#include <cstring>
#include <iterator>

#include "model/code_catalogue.h"
#include "model/messages.h"
#include "model/status_texts.h"
#include "store/file_io.h"
#include "store/param_file.h"
#include "store/programme_csv.h"

namespace km27 {

namespace {

std::string CarrierName(const StoreDetail& d) { return d.carrier >= 0 ? Carrier(d.carrier).caption : ""; }

std::string FamilyOf(const StoreDetail& d) { return d.family >= 0 ? FamilyName(SignalFamily(d.family)) : ""; }

std::string OfferedSecondsText() {
  std::string s;
  for (const std::string& item : DurationItems())
    s += (s.empty() ? "" : Text(Msg::kListSeparator)) + std::to_string(DurationSeconds(item));
  return Text(Msg::kSeconds, {s});
}

std::string HeaderRow() {
  std::string s;
  for (const std::string& column : CsvHeader(CurrentLanguage())) s += (s.empty() ? "" : ",") + column;
  return s;
}

std::string WithReason(Msg id, int err) { return Text(id, {SystemErrorText(err)}); }

}  // namespace

std::string FileErrorText(const char* lead, int err) { return Text(Msg::kWithReason, {lead, SystemErrorText(err)}); }

std::string StoreErrorText(const StoreFailure& f) {
  const StoreDetail& d = f.detail;
  const std::string number = std::to_string(d.number);
  switch (f.code) {
    case StoreError::kNone: return {};
    case StoreError::kNotFound: return Text(Msg::kStoreNotFound);
    case StoreError::kCannotOpen: return WithReason(Msg::kStoreCannotOpen, f.sysError);
    case StoreError::kNotRegularFile: return Text(Msg::kStoreNotRegularFile);
    case StoreError::kTooLarge: return Text(Msg::kStoreTooLarge, {number});
    case StoreError::kTooLargeUnsized: return Text(Msg::kStoreTooLargeUnsized, {number});
    case StoreError::kCannotRead: return WithReason(Msg::kStoreCannotRead, f.sysError);
    case StoreError::kPathTooLong:
    case StoreError::kSavePathTooLong: return WithReason(Msg::kStorePathTooLong, f.sysError);
    case StoreError::kNotReplaceable: return WithReason(Msg::kStoreNotReplaceable, f.sysError);
    case StoreError::kReadOnly: return WithReason(Msg::kStoreReadOnly, f.sysError);
    case StoreError::kCannotCreate: return WithReason(Msg::kStoreCannotCreate, f.sysError);
    case StoreError::kCannotWrite: return WithReason(Msg::kStoreCannotWrite, f.sysError);
    case StoreError::kCannotLink: return WithReason(Msg::kStoreCannotLink, f.sysError);
    case StoreError::kCannotReplace: return WithReason(Msg::kStoreCannotReplace, f.sysError);
    case StoreError::kTooManyCopies: return Text(Msg::kStoreTooManyCopies);
    case StoreError::kNotGbk: return Text(Msg::kStoreNotGbk);
    case StoreError::kUnreadableAtStart:
      return Text(Msg::kStoreUnreadableAtStart, {d.cause ? StoreErrorText(*d.cause) : ""});
    case StoreError::kWrongSize: return Text(Msg::kStoreWrongSize, {number, kParamFileSize});
    case StoreError::kOverSize: return Text(Msg::kStoreOverSize, {kParamFileSize});
    case StoreError::kWrongMaker: return Text(Msg::kStoreWrongMaker);
    case StoreError::kWrongVersion: return Text(Msg::kStoreWrongVersion, {text::kFileVersion});
    case StoreError::kIncomplete: return Text(Msg::kStoreIncomplete);
    case StoreError::kNotText: return Text(Msg::kStoreNotText);
    case StoreError::kMixedEncoding: return Text(Msg::kStoreMixedEncoding);
    case StoreError::kUnpairedQuote: return Text(Msg::kStoreUnpairedQuote);
    case StoreError::kTextAfterQuote: return Text(Msg::kStoreTextAfterQuote);
    case StoreError::kTooManyColumns: return Text(Msg::kStoreTooManyColumns, {kCsvColumns, HeaderRow()});
    case StoreError::kNoHeader: return Text(Msg::kStoreNoHeader, {HeaderRow()});
    case StoreError::kEmptyTable: return Text(Msg::kStoreEmptyTable, {HeaderRow()});
    case StoreError::kUnknownCarrier: return Text(Msg::kStoreUnknownCarrier, {d.value});
    case StoreError::kMissingCell:
      return d.number >= 0 && size_t(d.number) < kCsvColumns
                 ? Text(Msg::kStoreMissingCell, {CsvHeader(CurrentLanguage())[size_t(d.number)]})
                 : Text(Msg::kStoreMissingSomeCell);
    case StoreError::kNoMoreSteps: return Text(Msg::kStoreNoMoreSteps, {CarrierName(d), kEditableSlots, d.value});
    case StoreError::kStepBeyondLast: return Text(Msg::kStoreStepBeyondLast, {CarrierName(d), kEditableSlots});
    case StoreError::kStepOutOfOrder: return Text(Msg::kStoreStepOutOfOrder, {CarrierName(d), d.value, number});
    case StoreError::kUnknownCode:
      return Text(Msg::kStoreUnknownCode,
                  {d.value, d.carrier >= 0 ? FamilyName(FamilyOfCarrier(d.carrier)) : "", CarrierName(d)});
    case StoreError::kUnofferedTime: return Text(Msg::kStoreUnofferedTime, {d.value, OfferedSecondsText()});
    case StoreError::kUnknownLineFamily: return Text(Msg::kStoreUnknownLineFamily, {d.value});
    case StoreError::kNoLineSetting: return Text(Msg::kStoreNoLineSetting, {FamilyOf(d)});
    case StoreError::kRepeatedLineSetting: return Text(Msg::kStoreRepeatedLineSetting, {FamilyOf(d)});
    case StoreError::kUnknownLineSetting: {
      const LineRadioState s = LineRadiosFor(CodeBox, SignalFamily(d.family), ParamOptions{});
      return Text(Msg::kStoreUnknownLineSetting, {FamilyOf(d), d.value, s.caption0, s.caption1});
    }
    case StoreError::kLineCellNotEmpty: return Text(Msg::kStoreLineCellNotEmpty);
    case StoreError::kUnknownCheckOwner: return Text(Msg::kStoreUnknownCheckOwner, {d.value});
    case StoreError::kBadCheckByte: return Text(Msg::kStoreBadCheckByte);
    case StoreError::kRepeatedCheckByte: return Text(Msg::kStoreRepeatedCheckByte, {d.value});
  }
  return {};
}

}  // namespace km27
