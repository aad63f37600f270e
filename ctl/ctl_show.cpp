#include <cstdio>
#include <vector>

#include "ctl/ctl_commands.h"

namespace km27::ctl {

namespace {

// The line option of a family as the window's radios name it; a byte no radio stands for is
// shown as it is.
std::string LineOptionName(SignalFamily family, const ParamOptions& options) {
  const LineRadioState s = LineRadiosFor(CodeBox, family, options);
  if (s.value == 0) return s.caption0;
  if (s.value == 1) return s.caption1;
  return "无效值 " + std::to_string(options.LineOption(family));
}

}  // namespace

void ShowProgramme(const std::string& file, const ParamOptions& options, const ParamTable& table,
                   const CodeCatalogue& catalogue, Output& out) {
  out.Line("参数文件：" + file);
  std::string lines = "线路设置（KM27A）：";
  std::vector<JsonObject> lineJson;
  for (int f = 0; f < kLineOptionFamilies; ++f) {
    const std::string name = LineOptionName(SignalFamily(f), options);
    lines += std::string(f ? "；" : "") + FamilyName(SignalFamily(f)) + " " + name;
    lineJson.push_back(JsonObject()
                           .Add("family", FamilyName(SignalFamily(f)))
                           .Add("value", int(options.LineOption(f)))
                           .Add("name", name));
  }
  out.Line(lines);
  const TableCounts counts = CountTable(table);
  out.Line("类型 " + std::to_string(counts.families) + "，载频 " + std::to_string(counts.carriers) + "，低频 " +
           std::to_string(counts.entries));

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
                          .Add("code_name", code)
                          .Add("seconds", int(e.seconds)));
      char row[96];
      std::snprintf(row, sizeof row, "  第 %2d 步  %-10s %3d 秒", slot + 1, code.c_str(), int(e.seconds));
      stepLines.push_back(row);
    }
    out.Line(CarrierTitle(c) + "：" + (steps.empty() ? std::string("空") : std::to_string(steps.size()) + " 步"));
    for (const std::string& l : stepLines) out.Line(l);
    carriers.push_back(JsonObject()
                           .Add("index", c)
                           .Add("carrier", Carrier(c).caption)
                           .Add("family", FamilyName(family))
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
