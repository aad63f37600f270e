#include <cstdio>
#include <vector>

#include "ctl/ctl_commands.h"
#include "ctl/ctl_texts.h"

namespace km27::ctl {

namespace {

// --json is for scripts: its values are the same whatever language the person reads.
constexpr Language kJsonLanguage = Language::kChinese;

// The line option of a family as the window's radios name it; a byte no radio stands for is
// shown as it is.
std::string LineOptionName(SignalFamily family, const ParamOptions& options, Language language) {
  const LineRadioState s = LineRadiosIn(language, CodeBox, family, options);
  if (s.value == 0) return s.caption0;
  if (s.value == 1) return s.caption1;
  return WordsIn(language, Say::kShowInvalidValue, {int(options.LineOption(family))});
}

}  // namespace

void ShowProgramme(const std::string& file, const ParamOptions& options, const ParamTable& table,
                   const CodeCatalogue& catalogue, Output& out) {
  out.Line(Words(Say::kShowFile, {file}));
  std::string lines;
  std::vector<JsonObject> lineJson;
  for (int f = 0; f < kLineOptionFamilies; ++f) {
    const std::string name = LineOptionName(SignalFamily(f), options, CurrentLanguage());
    lines += (f ? Words(Say::kShowLineSeparator) : "") + FamilyName(SignalFamily(f)) + " " + name;
    lineJson.push_back(JsonObject()
                           .Add("family", FamilyNameIn(kJsonLanguage, SignalFamily(f)))
                           .Add("value", int(options.LineOption(f)))
                           .Add("name", LineOptionName(SignalFamily(f), options, kJsonLanguage)));
  }
  out.Line(Words(Say::kShowLineSetting, {lines}));
  const TableCounts counts = CountTable(table);
  out.Line(Words(Say::kShowCounts, {counts.families, counts.carriers, counts.entries}));

  std::vector<JsonObject> carriers;
  for (int c = 0; c < kCarrierCount; ++c) {
    const SignalFamily family = FamilyOfCarrier(c);
    std::vector<JsonObject> steps;
    std::vector<std::string> stepLines;
    for (int slot = 0; slot < kEditableSlots; ++slot) {
      const ParamEntry e = table.Entry(c, slot);
      if (!e.Occupied()) continue;
      const std::string code = catalogue.Name(family, e.code);
      steps.push_back(JsonObject()
                          .Add("step", slot + 1)
                          .Add("code", int(e.code))
                          .Add("code_name", CodeCatalogue::CodeNameIn(kJsonLanguage, family, e.code))
                          .Add("seconds", int(e.seconds)));
      char step[8], name[64], seconds[8];
      std::snprintf(step, sizeof step, "%2d", slot + 1);
      std::snprintf(name, sizeof name, "%-10s", code.c_str());
      std::snprintf(seconds, sizeof seconds, "%3d", int(e.seconds));
      stepLines.push_back(Words(Say::kShowStep, {step, name, seconds}));
    }
    out.Line(steps.empty() ? Words(Say::kShowCarrierEmpty, {CarrierTitle(c)})
                           : Words(Say::kShowCarrierSteps, {CarrierTitle(c), steps.size()}));
    for (const std::string& l : stepLines) out.Line(l);
    carriers.push_back(JsonObject()
                           .Add("index", c)
                           .Add("carrier", Carrier(c).caption)
                           .Add("family", FamilyNameIn(kJsonLanguage, family))
                           .Add("steps", steps));
  }
  out.Result()
      .Add("line_options", lineJson)
      .Add("counts", JsonObject()
                         .Add("families", counts.families)
                         .Add("carriers", counts.carriers)
                         .Add("codes", counts.entries))
      .Add("carriers", carriers);
}

}  // namespace km27::ctl
