#pragma once
#include <array>
#include <string>

#include "model/code_catalogue.h"
#include "model/messages.h"
#include "model/param_table.h"
#include "store/file_io.h"

// The programme as a table for a spreadsheet: UTF-8 text (with a byte-order mark, so that
// spreadsheets take it as UTF-8), comma-separated, CR LF line ends, a header row, then (the
// words in the interface's language when written; either language's when read)
//   载频,步,低频,时间(秒)          one row per step, in carrier and step order
//   线路,<family>,<setting>,        the line setting of 移频, UM71 and ZPW2000
//   校验字节,<参数头|carrier>,<n>,  a check byte the code box left in the programme (only when not 0)
// The carrier masks are not written: they follow from the steps, as they do when editing.
namespace km27 {

inline constexpr size_t kLargestCsvFile = size_t(1) << 20;
inline constexpr size_t kCsvColumns = 4;
// "载频", "步", "低频", "时间(秒)"
std::array<std::string, kCsvColumns> CsvHeader(Language language);

// The file's bytes.
std::string FormatProgrammeCsv(const Programme& programme, const CodeCatalogue& catalogue);

// What of the programme the table cannot give back exactly (the first such thing), or empty when importing the table restores the programme byte for byte.
std::string CsvExportProblem(const Programme& programme, const CodeCatalogue& catalogue);

struct CsvImport {
  bool ok = false;
  Programme programme;  // when ok
  StoreFailure failure;  // detail.line: the first bad row's line; 0 when the file as a whole is at fault
  int lineRows = 0;     // line settings the file gave (of kLineOptionFamilies)
  int checkRows = 0;    // check bytes the file gave
  // "第 3 行：未知的载频“560 Hz”" (or the reason alone when no line is at fault).
  std::string Message() const;
  // What the file gave, for the status line: "步骤与线路设置", "步骤，线路设置未变".
  std::string Taken() const;
};

// Checks every row before anything is taken: the first bad one refuses the whole file. Text
// that is not UTF-8 is read as GBK, as a spreadsheet saves CSV on a Chinese system.
// The steps are what the table is: they replace all of `current`'s. Line settings and check
// bytes the file has no row for keep `current`'s values.
CsvImport ParseProgrammeCsv(const std::string& bytes, const CodeCatalogue& catalogue, const Programme& current = {});

CsvImport ReadProgrammeCsv(const std::string& path, const CodeCatalogue& catalogue, const Programme& current = {});
SaveResult SaveProgrammeCsv(const std::string& path, const Programme& programme, const CodeCatalogue& catalogue);

}  // namespace km27
