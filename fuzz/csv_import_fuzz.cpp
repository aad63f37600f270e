// Table file importer: any bytes as a spreadsheet's CSV.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/param_file.h"
#include "store/programme_csv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const km27::CodeCatalogue catalogue;
  const km27::CsvImport r = km27::ParseProgrammeCsv(std::string(reinterpret_cast<const char*>(data), size), catalogue);
  if (!r.ok) {
    // A refusal always says why.
    if (!r.failure.Failed() || r.Message().empty() || r.failure.detail.line < 0) std::abort();
    return 0;
  }
  // What is accepted is a programme the window could have made: a table writes it out whole,
  // and reading that back gives the same bytes.
  if (!km27::CsvExportProblem(r.programme, catalogue).empty()) std::abort();
  const km27::CsvImport back = km27::ParseProgrammeCsv(km27::FormatProgrammeCsv(r.programme, catalogue), catalogue);
  if (!back.ok || km27::BuildParamFileImage(back.programme.options, back.programme.table) !=
                      km27::BuildParamFileImage(r.programme.options, r.programme.table))
    std::abort();
  return 0;
}
