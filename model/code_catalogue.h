#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/device_model.h"
#include "model/messages.h"
#include "model/param_table.h"

namespace km27 {

// 0 frequency-shift (移频), 1 UM71, 2 ZPW2000, 3 AC counting (交流计数).
using SignalFamily = uint8_t;

inline constexpr int kFamilyCount = 4;
inline constexpr int kCarrierCount = 19;
inline constexpr int kCodesPerFamily = 21;
inline constexpr int kLineOptionFamilies = 3;  // family 3 has no line option

// A carrier's family is also the CarrierMask byte that holds its bit.
struct CarrierInfo {
  const char* caption;  // its name, as the radio shows it
  SignalFamily family;
  int maskBit;
};

// Fixed knowledge of the signals: carriers, their families and the low-frequency code names.
class CodeCatalogue {
 public:
  CodeCatalogue();
  void BuildCodeCatalogue();

  // Catalogue name of a stored code index; an index beyond the table (only from a damaged
  // file or a faulty upload) is shown as its decimal number rather than read out of bounds.
  std::string Name(SignalFamily family, unsigned index) const;

  // Items of the low-frequency combo box in catalogue order; "FF" placeholders are never offered,
  // so an item's position equals its catalogue index.
  std::vector<std::string> ComboItems(SignalFamily family) const;

  // A code's name in a given language (the catalogue itself speaks the one current when it was
  // built), for reading what another language wrote.
  static std::string CodeNameIn(Language language, SignalFamily family, unsigned index);

 private:
  std::array<std::array<std::string, kCodesPerFamily>, kFamilyCount> names_;
};

// "移频", "UM71", "ZPW2000", "交流计数" (in the current language); empty for any other value.
const char* FamilyName(SignalFamily family);
const char* FamilyNameIn(Language language, SignalFamily family);

const CarrierInfo& Carrier(int index);  // index 0..18
// "载频 550 Hz（移频）": a carrier as the operator's messages name it.
std::string CarrierTitle(int carrier);
SignalFamily FamilyOfCarrier(int carrier);  // Carrier(carrier).family

// The line radios (controls 1091/1092) as they must look for a family.
struct LineRadioState {
  bool touch = true;  // false: leave captions and value alone (code transmitter)
  std::string caption0, caption1;
  bool enabled = false;
  int value = 0;  // radio to check: 0, 1, or -1 for none (an out-of-range stored byte)
};
LineRadioState LineRadiosFor(DeviceModel model, SignalFamily family, const ParamOptions& options);
LineRadioState LineRadiosIn(Language language, DeviceModel model, SignalFamily family, const ParamOptions& options);

// The caption of the line setting a family's stored option chooses ("TB3060-2002"); a byte no
// radio stands for is given as its value; empty for AC counting, which has none.
std::string LineOptionCaption(SignalFamily family, const ParamOptions& options);

// Steps the lower machine cannot carry out: a code index its family's list does not have, or a
// duration outside the 3–60 s it offers. Only a damaged or foreign file, or a faulty upload,
// holds them; the window shows them as they are, and a download sends them as they are.
struct ImpossibleStep {
  int carrier = 0;
  int step = 0;  // 1-based
  ParamEntry entry;
  bool badCode = false;  // else the duration
};
std::vector<ImpossibleStep> ImpossibleSteps(const ParamTable& table, const CodeCatalogue& catalogue);
// The first of them for the operator ("载频 550 Hz（移频）第 3 步：低频代码 25 不存在（共 2 处）");
// empty when there are none.
std::string ImpossibleStepsText(const ParamTable& table, const CodeCatalogue& catalogue);

// Duration combo items ("3 秒" … "60 秒") and the seconds of an item text (leading decimal number,
// as atoi reads it).
const std::vector<std::string>& DurationItems();
int DurationSeconds(const std::string& itemText);

}  // namespace km27
