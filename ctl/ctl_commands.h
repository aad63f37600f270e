#pragma once
#include <string>

#include "ctl/ctl_options.h"
#include "ctl/ctl_output.h"
#include "model/code_catalogue.h"
#include "model/param_table.h"
#include "store/transfer_log.h"

namespace km27::ctl {

// km27ctl as a whole: parses the command line, runs the command, returns the exit code.
int Main(int argc, const char* const* argv);

// The programme as a readable table (show).
void ShowProgramme(const std::string& file, const ParamOptions& options, const ParamTable& table,
                   const CodeCatalogue& catalogue, Output& out);

// Appends the record of a transfer that ended with `exitCode`, unless --no-log; a log that
// cannot be written is told, and changes nothing else.
void LogTransfer(const Options& o, int exitCode, TransferRecord& record, Output& out);

// log: the transfers recorded, as a table or as the log's own lines.
int ShowTransferLog(const Options& o, Output& out);

}  // namespace km27::ctl
