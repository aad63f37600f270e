#include "model/programme_overview.h"

#include <algorithm>
#include <cstdint>

#include "model/messages.h"

namespace km27 {

namespace {

// Every distinct name of the catalogue once, in family and index order: a name's place here is
// its colour, so colours do not move when the programme changes.
std::vector<std::string> DistinctNames(const CodeCatalogue& catalogue) {
  std::vector<std::string> names;
  for (SignalFamily f = 0; f < kFamilyCount; ++f)
    for (int i = 0; i < kCodesPerFamily; ++i) {
      const std::string name = catalogue.Name(f, unsigned(i));
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  return names;
}

// Position of `seconds` on a chart where `longest` seconds take `width` units, to the nearest unit.
int Scale(int seconds, int width, int longest) {
  if (longest <= 0) return 0;
  return int((int64_t(seconds) * width * 2 + longest) / (int64_t(longest) * 2));
}

}  // namespace

int OverviewColourCount(const CodeCatalogue& catalogue) { return int(DistinctNames(catalogue).size()) + 1; }

int OverviewColourOf(const CodeCatalogue& catalogue, const std::string& name) {
  const std::vector<std::string> names = DistinctNames(catalogue);
  const auto it = std::find(names.begin(), names.end(), name);
  return int(it - names.begin());  // past the end: the one colour of every unknown name
}

const OverviewRow* ProgrammeOverview::RowOf(int carrier) const {
  for (const OverviewGroup& g : groups)
    for (const OverviewRow& r : g.rows)
      if (r.carrier == carrier) return &r;
  return nullptr;
}

ProgrammeOverview LayoutOverview(const ParamTable& table, const ParamOptions& options, const CodeCatalogue& catalogue,
                                 int chartWidth) {
  ProgrammeOverview out;
  out.chartWidth = std::max(0, chartWidth);
  const std::vector<std::string> names = DistinctNames(catalogue);
  const auto colourOf = [&names](const std::string& name) {
    return int(std::find(names.begin(), names.end(), name) - names.begin());
  };

  std::vector<bool> used(names.size() + 1, false);
  for (int c = 0; c < kCarrierCount; ++c) {
    const SignalFamily family = FamilyOfCarrier(c);
    OverviewRow row;
    row.carrier = c;
    row.caption = Carrier(c).caption;
    for (int s = 0; s < kEditableSlots; ++s) {
      const ParamEntry e = table.Entry(c, s);
      if (!e.Occupied()) continue;
      OverviewSegment seg;
      seg.row = s + 1;
      seg.code = e.code;
      seg.seconds = e.seconds;
      seg.start = row.totalSeconds;
      seg.label = catalogue.Name(family, e.code);
      seg.colour = colourOf(seg.label);
      used[size_t(seg.colour)] = true;
      row.totalSeconds += e.seconds;
      row.segments.push_back(seg);
    }
    if (row.segments.empty()) continue;
    out.longestCycle = std::max(out.longestCycle, row.totalSeconds);
    if (out.groups.empty() || out.groups.back().family != family) {
      OverviewGroup g;
      g.family = family;
      g.caption = FamilyName(family);
      g.lineOption = LineOptionCaption(family, options);
      out.groups.push_back(g);
    }
    out.groups.back().rows.push_back(row);
  }

  // Positions from the running totals, so rounding never opens a gap or lets errors add up.
  for (OverviewGroup& g : out.groups)
    for (OverviewRow& r : g.rows) {
      for (OverviewSegment& seg : r.segments) {
        seg.x = Scale(seg.start, out.chartWidth, out.longestCycle);
        seg.width = Scale(seg.start + seg.seconds, out.chartWidth, out.longestCycle) - seg.x;
      }
      r.width = Scale(r.totalSeconds, out.chartWidth, out.longestCycle);
    }

  for (size_t i = 0; i < used.size(); ++i)
    if (used[i]) out.legend.push_back({int(i), i < names.size() ? names[i] : Text(Msg::kUnknownCodeName)});
  return out;
}

}  // namespace km27
