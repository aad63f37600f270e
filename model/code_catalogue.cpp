#include "model/code_catalogue.h"

#include <cstdlib>

#include "model/messages.h"

namespace km27 {

namespace {

const CarrierInfo kCarriers[kCarrierCount] = {
    {"550 Hz", 0, 0},   {"650 Hz", 0, 1},   {"750 Hz", 0, 2},   {"850 Hz", 0, 3},   {"1700 Hz", 1, 0},
    {"2000 Hz", 1, 1},  {"2300 Hz", 1, 2},  {"2600 Hz", 1, 3},  {"1701.4Hz", 2, 0}, {"2001.4Hz", 2, 1},
    {"2301.4Hz", 2, 2}, {"2601.4Hz", 2, 3}, {"1698.7Hz", 2, 4}, {"1998.7HZ", 2, 5}, {"2298.7Hz", 2, 6},
    {"2598.7Hz", 2, 7}, {"25 Hz", 3, 0},    {"50 Hz", 3, 1},    {"75 Hz", 3, 2},
};

// A code is named by its frequency (or AC counting letters), the same in every language, or by
// a word the catalogue gives in each.
struct CodeName {
  const char* text = nullptr;
  Msg word = Msg::kCount;
  constexpr CodeName(const char* t) : text(t) {}
  constexpr CodeName(Msg w) : word(w) {}
};
constexpr Msg kNone = Msg::kCodeNone, kUpper = Msg::kCodeUpperSide, kLower = Msg::kCodeLowerSide;

const CodeName kFrequencyShiftCodes[kCodesPerFamily] = {
    kNone,     "7.0 Hz",  "8.0 Hz",  "8.5 Hz",  "9.0 Hz",  "9.5 Hz",  "11.0 Hz",
    "12.5 Hz", "13.5 Hz", "15.0 Hz", "16.5 Hz", "17.5 Hz", "18.5 Hz", "20.0 Hz",
    "21.5 Hz", "22.5 Hz", "23.5 Hz", "24.5 Hz", "26.0 Hz", kUpper,    kLower};

// UM71 and ZPW2000 share one list.
const CodeName kTrackCircuitCodes[kCodesPerFamily] = {
    kNone,     "10.3 Hz", "11.4 Hz", "12.5 Hz", "13.6 Hz", "14.7 Hz", "15.8 Hz",
    "16.9 Hz", "18.0 Hz", "19.1 Hz", "20.2 Hz", "21.3 Hz", "22.4 Hz", "23.5 Hz",
    "24.6 Hz", "25.7 Hz", "26.8 Hz", "27.9 Hz", "29.0 Hz", kUpper,    kLower};

const CodeName kAcCountingCodes[kCodesPerFamily] = {
    kNone,  "AL", "ALU", "AU", "AUU", "AHU", "BL", "BLU", "BU", "BUU", "BHU",
    kUpper, "FF", "FF",  "FF", "FF",  "FF",  "FF", "FF",  "FF", "FF"};

// "FF" marks an index that carries no code: never offered, shown as is when stored.
constexpr const char kNoCodePlaceholder[] = "FF";

}  // namespace

CodeCatalogue::CodeCatalogue() { BuildCodeCatalogue(); }

void CodeCatalogue::BuildCodeCatalogue() {
  for (int f = 0; f < kFamilyCount; ++f)
    for (int i = 0; i < kCodesPerFamily; ++i)
      names_[size_t(f)][size_t(i)] = CodeNameIn(CurrentLanguage(), SignalFamily(f), unsigned(i));
}

std::string CodeCatalogue::CodeNameIn(Language language, SignalFamily family, unsigned index) {
  const CodeName* const rows[kFamilyCount] = {kFrequencyShiftCodes, kTrackCircuitCodes, kTrackCircuitCodes,
                                              kAcCountingCodes};
  if (family >= kFamilyCount || index >= unsigned(kCodesPerFamily)) return std::to_string(index);
  const CodeName& name = rows[family][index];
  return name.text ? name.text : TextIn(language, name.word);
}

std::string CodeCatalogue::Name(SignalFamily family, unsigned index) const {
  if (family >= kFamilyCount || index >= unsigned(kCodesPerFamily)) return std::to_string(index);
  return names_[family][index];
}

std::vector<std::string> CodeCatalogue::ComboItems(SignalFamily family) const {
  std::vector<std::string> items;
  if (family >= kFamilyCount) return items;
  for (const std::string& name : names_[family])
    if (name != kNoCodePlaceholder) items.push_back(name);
  return items;
}

const char* FamilyNameIn(Language language, SignalFamily family) {
  switch (family) {
    case 0: return MessageEntry(Msg::kFamilyFsk).In(language);
    case 1: return "UM71";
    case 2: return "ZPW2000";
    case 3: return MessageEntry(Msg::kFamilyAcCounting).In(language);
    default: return "";
  }
}

const char* FamilyName(SignalFamily family) { return FamilyNameIn(CurrentLanguage(), family); }

const CarrierInfo& Carrier(int index) {
  if (index < 0 || index >= kCarrierCount) index = 0;
  return kCarriers[index];
}

std::string CarrierTitle(int carrier) {
  const CarrierInfo& c = Carrier(carrier);
  return Text(Msg::kCarrierTitle, {c.caption, FamilyName(c.family)});
}

SignalFamily FamilyOfCarrier(int carrier) { return Carrier(carrier).family; }

LineRadioState LineRadiosFor(DeviceModel model, SignalFamily family, const ParamOptions& options) {
  return LineRadiosIn(CurrentLanguage(), model, family, options);
}

LineRadioState LineRadiosIn(Language language, DeviceModel model, SignalFamily family, const ParamOptions& options) {
  const auto word = [language](Msg id) { return TextIn(language, id); };
  LineRadioState s;
  if (IsCodeTransmitter(model)) {
    // The code transmitter has no line setting: the radios keep their template look, disabled.
    s.touch = false;
    s.caption0 = s.caption1 = word(Msg::kLineNone);
    return s;
  }
  switch (family) {
    case 0:
      s.caption0 = word(Msg::kLineFsk19);
      s.caption1 = "TB3060-2002";
      break;
    case 1:
    case 2:
      s.caption0 = "TB3060";
      s.caption1 = word(Msg::kLineStandardMode);
      break;
    default:
      s.caption0 = s.caption1 = word(Msg::kLineNone);
      s.enabled = false;
      s.value = 0;
      return s;
  }
  s.enabled = true;
  // A loaded file may hold any byte here: a value no radio stands for checks neither.
  s.value = options.LineOption(family) <= 1 ? options.LineOption(family) : -1;
  return s;
}

std::string LineOptionCaption(SignalFamily family, const ParamOptions& options) {
  if (family >= kLineOptionFamilies) return {};
  const LineRadioState s = LineRadiosFor(CodeBox, family, options);
  if (s.value < 0) return std::to_string(options.LineOption(family));
  return s.value == 0 ? s.caption0 : s.caption1;
}

const std::vector<std::string>& DurationItems() {
  const auto items = [](Language language) {
    std::vector<std::string> out;
    for (int s : {3, 4, 5, 6, 7, 8, 9, 10, 15, 20, 30, 40, 50, 60}) out.push_back(TextIn(language, Msg::kSeconds, {s}));
    return out;
  };
  static const std::vector<std::string> zh = items(Language::kChinese), en = items(Language::kEnglish);
  return CurrentLanguage() == Language::kEnglish ? en : zh;
}

int DurationSeconds(const std::string& itemText) { return std::atoi(itemText.c_str()); }

std::vector<ImpossibleStep> ImpossibleSteps(const ParamTable& table, const CodeCatalogue& catalogue) {
  const int shortest = DurationSeconds(DurationItems().front());
  const int longest = DurationSeconds(DurationItems().back());
  std::vector<ImpossibleStep> found;
  for (int c = 0; c < kCarrierCount; ++c) {
    const size_t codes = catalogue.ComboItems(FamilyOfCarrier(c)).size();
    for (int s = 0; s < kEditableSlots; ++s) {
      const ParamEntry e = table.Entry(c, s);
      if (!e.Occupied()) continue;
      const bool badCode = e.code >= codes;
      if (badCode || e.seconds < shortest || e.seconds > longest) found.push_back({c, s + 1, e, badCode});
    }
  }
  return found;
}

std::string ImpossibleStepsText(const ParamTable& table, const CodeCatalogue& catalogue) {
  const std::vector<ImpossibleStep> found = ImpossibleSteps(table, catalogue);
  if (found.empty()) return {};
  const ImpossibleStep& f = found.front();
  const CarrierInfo& c = Carrier(f.carrier);
  std::string text = f.badCode ? Text(Msg::kImpossibleCode, {c.caption, FamilyName(c.family), f.step, f.entry.code})
                               : Text(Msg::kImpossibleTime, {c.caption, FamilyName(c.family), f.step, f.entry.seconds,
                                                             DurationItems().front(), DurationItems().back()});
  if (found.size() > 1) text += Text(Msg::kPlacesInAll, {found.size()});
  return text;
}

}  // namespace km27
