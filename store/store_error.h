#pragma once
#include <memory>
#include <string>

// Why a file could not be read, written or taken: a code, the system's error and the facts the
// words need. No words are kept in a result; StoreErrorText makes them where they are shown.
namespace km27 {

enum class StoreError {
  kNone,
  // Reading a file.
  kNotFound,          // a file that may be missing is
  kCannotOpen,        // sysError
  kNotRegularFile,    // a folder, a pipe, a device
  kTooLarge,          // number: the size the file system gives
  kTooLargeUnsized,   // more came than the size claimed; number: the limit
  kCannotRead,        // sysError
  kPathTooLong,       // sysError
  // Writing a file.
  kNotReplaceable,    // not a regular file; sysError
  kReadOnly,          // sysError
  kCannotCreate,      // no temporary file in the folder; sysError
  kCannotWrite,       // sysError
  kCannotLink,        // sysError
  kCannotReplace,     // sysError
  kSavePathTooLong,   // sysError
  kTooManyCopies,     // every dated name beside the file is taken
  kNotGbk,            // a character without a GBK form
  kUnreadableAtStart, // kept from being replaced; cause: why it could not be read
  // What a file holds.
  kWrongSize,         // number: the file's size
  kOverSize,          // longer than a programme file, size unknown
  kWrongMaker,
  kWrongVersion,
  kIncomplete,        // device information short of its 96 values
  // A programme table (line: the row; value: the cell as shown).
  kNotText,
  kMixedEncoding,
  kUnpairedQuote,
  kTextAfterQuote,
  kTooManyColumns,
  kNoHeader,
  kEmptyTable,
  kUnknownCarrier,
  kMissingCell,       // number: the column (0-based)
  kNoMoreSteps,       // carrier already holds every step; value: the step given
  kStepBeyondLast,    // carrier
  kStepOutOfOrder,    // carrier, value; number: the step expected
  kUnknownCode,       // carrier, value
  kUnofferedTime,     // value
  kUnknownLineFamily, // value
  kNoLineSetting,     // family
  kRepeatedLineSetting,  // family
  kUnknownLineSetting,   // family, value
  kLineCellNotEmpty,
  kUnknownCheckOwner,    // value
  kBadCheckByte,
  kRepeatedCheckByte,    // value
};

struct StoreFailure;

struct StoreDetail {
  int line = 0;            // the table's row (1-based); 0 when the file as a whole is at fault
  std::string value;       // the offending cell
  int carrier = -1;
  int family = -1;
  long long number = 0;    // a size, a limit, a step or a column, as the code says
  std::shared_ptr<const StoreFailure> cause;
};

struct StoreFailure {
  StoreError code = StoreError::kNone;
  int sysError = 0;  // errno; 0 when the system had no part in it
  StoreDetail detail;
  bool Failed() const { return code != StoreError::kNone; }
};

// The words the operator reads (Chinese); empty for kNone.
std::string StoreErrorText(const StoreFailure& failure);

// "<lead>：<the system's reason>", the form of every file error the operator sees.
std::string FileErrorText(const char* lead, int err);

}  // namespace km27
