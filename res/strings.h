#pragma once

// The program's string table (UTF-8 here; the help file is written in GBK).
namespace km27::res {

inline constexpr int IDS_ABOUTBOX = 101;  // the About entry of the main window
inline constexpr int IDS_HELP_1 = 102;    // help text, first half
inline constexpr int IDS_HELP_2 = 103;    // help text, second half

// The translation context of the entries shown in the window (the help halves go into a file
// and stay Chinese).
inline constexpr char kStringTableContext[] = "Strings";

// Empty for an id the table does not hold.
const char* LoadString(int id);

}  // namespace km27::res
