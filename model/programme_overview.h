#pragma once
#include <string>
#include <vector>

#include "model/code_catalogue.h"
#include "model/param_table.h"

// The whole programme at a glance: one row per carrier that has steps, grouped by family, each
// step a segment whose length is proportional to its seconds. All rows share one time scale,
// so the longest cycle spans the whole chart and the others can be compared with it.
namespace km27 {

struct OverviewSegment {
  int row = 0;        // the step's grid row, 1..20
  uint8_t code = 0;   // its stored code index
  int seconds = 0;
  int start = 0;      // seconds from the start of the cycle
  int x = 0;          // from the chart's left edge, in the chart's units
  int width = 0;      // segments of a row tile it without gap or overlap
  int colour = 0;     // one colour per code name, see OverviewColourOf
  std::string label;  // the code's name, as the grid shows it
};

struct OverviewRow {
  int carrier = 0;
  std::string caption;  // as the carrier's radio shows it
  int totalSeconds = 0;
  int width = 0;        // x + width of the last segment
  std::vector<OverviewSegment> segments;
};

struct OverviewGroup {
  SignalFamily family = 0;
  std::string caption;     // 移频, UM71, ZPW2000, 交流计数
  std::string lineOption;  // the chosen line setting's caption; empty for AC counting
  std::vector<OverviewRow> rows;
};

struct OverviewLegendEntry {
  int colour = 0;
  std::string name;
};

struct ProgrammeOverview {
  int chartWidth = 0;
  int longestCycle = 0;  // seconds
  std::vector<OverviewGroup> groups;         // families with steps, in family order
  std::vector<OverviewLegendEntry> legend;   // the codes used, by colour
  bool Empty() const { return groups.empty(); }
  const OverviewRow* RowOf(int carrier) const;  // nullptr when the carrier has no steps
};

// Lays the programme out on a chart `chartWidth` units wide. A step is an occupied slot among
// the 20 the grid shows, taken in slot order.
ProgrammeOverview LayoutOverview(const ParamTable& table, const ParamOptions& options, const CodeCatalogue& catalogue,
                                 int chartWidth);

// The colour of a code name: the same name has the same colour in every family and every
// programme ("12.5 Hz" of 移频 and of UM71 alike); 0 is 无码. Names outside the catalogue
// (a damaged index) share the last colour.
int OverviewColourOf(const CodeCatalogue& catalogue, const std::string& name);
int OverviewColourCount(const CodeCatalogue& catalogue);

}  // namespace km27
