#include "store/programme_csv.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "store/gbk.h"

namespace km27 {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr int kColumns = int(kCsvColumns);
constexpr Language kLanguages[] = {Language::kChinese, Language::kEnglish};
constexpr int kCheckSlot = kSlotsPerBlock - 1;  // the time byte of slot 23 holds a code-box check byte

// ---- writing ------------------------------------------------------------------------------

std::string Quoted(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char ch : field) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

void AppendRow(std::string& out, const std::array<std::string, kColumns>& fields) {
  for (int i = 0; i < kColumns; ++i) {
    if (i) out += ',';
    out += Quoted(fields[size_t(i)]);
  }
  out += "\r\n";
}

bool OfferedSeconds(int seconds) {
  for (const std::string& item : DurationItems())
    if (DurationSeconds(item) == seconds) return true;
  return false;
}

// The code index of a name the operator could have chosen for the family; -1 for any other.
int OfferedCode(const CodeCatalogue& catalogue, SignalFamily family, const std::string& key);

// ---- reading ------------------------------------------------------------------------------

// How names are compared: blanks (also the full-width one) and double quotes left out, Latin
// letters in either case, so "1998.7 Hz", "1998.7HZ" and "1998.7hz" are one carrier.
std::string Key(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == ' ' || ch == '\t' || ch == '"') continue;
    if (text.compare(i, 3, "\xE3\x80\x80") == 0) {  // U+3000
      i += 2;
      continue;
    }
    out += (ch >= 'a' && ch <= 'z') ? char(ch - 'a' + 'A') : ch;
  }
  return out;
}

int OfferedCode(const CodeCatalogue& catalogue, SignalFamily family, const std::string& key) {
  const size_t offered = catalogue.ComboItems(family).size();
  for (size_t i = 0; i < offered; ++i)
    for (Language l : kLanguages)
      if (Key(CodeCatalogue::CodeNameIn(l, family, unsigned(i))) == key) return int(i);
  return -1;
}

// Whether a cell holds the word in either language.
bool IsWord(const std::string& key, Msg word) {
  for (Language l : kLanguages)
    if (Key(TextIn(l, word)) == key) return true;
  return false;
}

int CarrierNamed(const std::string& key) {
  for (int c = 0; c < kCarrierCount; ++c)
    if (Key(Carrier(c).caption) == key) return c;
  return -1;
}

// The first line (1-based) that is neither UTF-8 nor GBK; 0 when each line is one of them.
int UndecodableLine(const std::string& text) {
  int line = 1;
  for (size_t start = 0; start <= text.size(); ++line) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string one = text.substr(start, end - start);
    bool ok = IsUtf8(one);
    if (!ok) GbkToUtf8(one, &ok);
    if (!ok) return line;
    start = end + 1;
  }
  return 0;
}

// A decimal number without sign, optionally followed by a unit (秒, s); -1 for anything else.
int Number(const std::string& field, bool unitAllowed) {
  std::string s;
  for (char ch : field)
    if (ch != ' ' && ch != '\t') s += ch;
  if (unitAllowed) {
    for (const std::string unit : {"秒", "s", "S"})
      if (s.size() > unit.size() && s.compare(s.size() - unit.size(), unit.size(), unit) == 0) {
        s.resize(s.size() - unit.size());
        break;
      }
  }
  if (s.empty() || s.size() > 6) return -1;
  int n = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return -1;
    n = n * 10 + (ch - '0');
  }
  return n;
}

struct Record {
  int line = 0;
  std::vector<std::string> fields;
};

// Splits text into records the way spreadsheets write them: a quoted field may hold commas,
// doubled quotes and line breaks. Returns false with the line of a quote that does not close
// or of text after a closing quote.
bool SplitRecords(const std::string& text, std::vector<Record>& records, StoreFailure& why) {
  int line = 1;
  size_t i = 0;
  while (i < text.size()) {
    Record r;
    r.line = line;
    std::string field;
    for (;;) {
      if (i < text.size() && text[i] == '"') {
        const int opened = line;
        ++i;
        for (;;) {
          if (i >= text.size()) {
            why.code = StoreError::kUnpairedQuote;
            why.detail.line = opened;
            return false;
          }
          if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
              field += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          if (text[i] == '\n') ++line;
          field += text[i++];
        }
        if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
          why.code = StoreError::kTextAfterQuote;
          why.detail.line = line;
          return false;
        }
      } else {
        while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') field += text[i++];
      }
      r.fields.push_back(field);
      field.clear();
      if (i < text.size() && text[i] == ',') {
        ++i;
        continue;
      }
      break;
    }
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
    ++line;
    records.push_back(std::move(r));
  }
  return true;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// A cell as a message quotes it: trimmed, and control characters (a NUL, say) made visible as
// their pictures (U+2400 + code), so that the operator sees what is there.
std::string Shown(const std::string& field) {
  std::string out;
  for (char ch : Trim(field)) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x20) {
      out += "\xE2\x90";
      out += char(0x80 + b);
    } else {
      out += ch;
    }
  }
  return out;
}

class Importer {
 public:
  // Starts from `current`'s line settings and check bytes; rows of the file replace them.
  Importer(const CodeCatalogue& catalogue, const Programme& current) : catalogue_(catalogue) {
    for (int f = 0; f < kLineOptionFamilies; ++f) p_.options.SetLineOption(f, current.options.LineOption(f));
    p_.options.SetCheckByte(current.options.CheckByte());
    for (int c = 0; c < kCarrierCount; ++c)
      p_.table.SetEntry(c, kCheckSlot, {0, current.table.Entry(c, kCheckSlot).seconds});
  }
  int LineRows() const { return int(std::count(lineSeen_.begin(), lineSeen_.end(), true)); }
  int CheckRows() const {
    return int(std::count(checkSeen_.begin(), checkSeen_.end(), true)) + (optionsCheckSeen_ ? 1 : 0);
  }

  // Takes one row; false with why when it is bad.
  bool Take(const std::vector<std::string>& f, StoreFailure& why) {
    why = {};
    const std::string kind = Key(f[0]);
    if (IsWord(kind, Msg::kCsvLineRow)) return TakeLine(f, why);
    if (IsWord(kind, Msg::kCsvCheckRow)) return TakeCheck(f, why);
    return TakeStep(f, why);
  }

  Programme Result() {
    UpdateCarrierMask(p_.table, p_.options);
    return p_;
  }

 private:
  // A bad row: its code and the cell at fault.
  static bool Bad(StoreFailure& why, StoreError code, const std::string& cell = {}) {
    why.code = code;
    why.detail.value = Shown(cell);
    return false;
  }

  bool TakeStep(const std::vector<std::string>& f, StoreFailure& why) {
    const int carrier = CarrierNamed(Key(f[0]));
    if (carrier < 0) return Bad(why, StoreError::kUnknownCarrier, f[0]);
    why.detail.carrier = carrier;
    for (int i = 1; i < kColumns; ++i)
      if (Trim(f[size_t(i)]).empty()) {
        why.detail.number = i;
        return Bad(why, StoreError::kMissingCell);
      }
    const int step = Number(f[1], false);
    const int expected = steps_[size_t(carrier)] + 1;
    // No step number could follow: none is suggested.
    if (expected > kEditableSlots) return Bad(why, StoreError::kNoMoreSteps, f[1]);
    if (step > kEditableSlots) return Bad(why, StoreError::kStepBeyondLast);
    if (step != expected) {
      why.detail.number = expected;
      return Bad(why, StoreError::kStepOutOfOrder, f[1]);
    }
    const SignalFamily family = FamilyOfCarrier(carrier);
    const int code = OfferedCode(catalogue_, family, Key(f[2]));
    if (code < 0) return Bad(why, StoreError::kUnknownCode, f[2]);
    const int seconds = Number(f[3], true);
    if (!OfferedSeconds(seconds)) return Bad(why, StoreError::kUnofferedTime, f[3]);
    p_.table.SetEntry(carrier, step - 1, {uint8_t(code), uint8_t(seconds)});
    steps_[size_t(carrier)] = step;
    return true;
  }

  bool TakeLine(const std::vector<std::string>& f, StoreFailure& why) {
    int family = -1;
    for (int fam = 0; fam < kFamilyCount; ++fam)
      for (Language l : kLanguages)
        if (Key(FamilyNameIn(l, SignalFamily(fam))) == Key(f[1])) family = fam;
    if (family < 0) return Bad(why, StoreError::kUnknownLineFamily, f[1]);
    why.detail.family = family;
    if (family >= kLineOptionFamilies) return Bad(why, StoreError::kNoLineSetting);
    if (lineSeen_[size_t(family)]) return Bad(why, StoreError::kRepeatedLineSetting);
    const std::string key = Key(f[2]);
    int option = -1;
    for (Language l : kLanguages) {
      const LineRadioState s = LineRadiosIn(l, CodeBox, SignalFamily(family), ParamOptions{});
      if (key == Key(s.caption0)) option = 0;
      if (key == Key(s.caption1)) option = 1;
    }
    if (option < 0) return Bad(why, StoreError::kUnknownLineSetting, f[2]);
    if (!Trim(f[3]).empty()) return Bad(why, StoreError::kLineCellNotEmpty);
    p_.options.SetLineOption(family, option);
    lineSeen_[size_t(family)] = true;
    return true;
  }

  bool TakeCheck(const std::vector<std::string>& f, StoreFailure& why) {
    const bool options = IsWord(Key(f[1]), Msg::kCsvOptionsHeader);
    const int carrier = options ? -1 : CarrierNamed(Key(f[1]));
    if (!options && carrier < 0) return Bad(why, StoreError::kUnknownCheckOwner, f[1]);
    const int value = Number(f[2], false);
    if (value < 0 || value > 255 || !Trim(f[3]).empty()) return Bad(why, StoreError::kBadCheckByte);
    bool& seen = options ? optionsCheckSeen_ : checkSeen_[size_t(carrier)];
    if (seen) return Bad(why, StoreError::kRepeatedCheckByte, f[1]);
    seen = true;
    if (options) {
      p_.options.SetCheckByte(uint8_t(value));
    } else {
      ParamEntry e = p_.table.Entry(carrier, kCheckSlot);
      e.seconds = uint8_t(value);
      p_.table.SetEntry(carrier, kCheckSlot, e);
    }
    return true;
  }

  const CodeCatalogue& catalogue_;
  Programme p_;
  std::array<int, kCarrierCount> steps_{};
  std::array<bool, kLineOptionFamilies> lineSeen_{};
  std::array<bool, kCarrierCount> checkSeen_{};
  bool optionsCheckSeen_ = false;
};

CsvImport Refuse(int line, StoreFailure why) {
  CsvImport r;
  r.failure = std::move(why);
  r.failure.detail.line = line;
  return r;
}

CsvImport Refuse(int line, StoreError code) { return Refuse(line, StoreFailure{code, 0, {}}); }

}  // namespace

std::array<std::string, kCsvColumns> CsvHeader(Language language) {
  return {TextIn(language, Msg::kCsvCarrier), TextIn(language, Msg::kCsvStep), TextIn(language, Msg::kCsvCode),
          TextIn(language, Msg::kCsvTime)};
}

std::string FormatProgrammeCsv(const Programme& p, const CodeCatalogue& catalogue) {
  std::string out = kBom;
  AppendRow(out, CsvHeader(CurrentLanguage()));
  const std::string lineRow = Text(Msg::kCsvLineRow), checkRow = Text(Msg::kCsvCheckRow);
  for (int c = 0; c < kCarrierCount; ++c) {
    int step = 0;
    for (int s = 0; s < kEditableSlots; ++s) {
      const ParamEntry e = p.table.Entry(c, s);
      if (!e.Occupied()) continue;
      AppendRow(out, {Carrier(c).caption, std::to_string(++step), catalogue.Name(FamilyOfCarrier(c), e.code),
                      std::to_string(e.seconds)});
    }
  }
  for (SignalFamily f = 0; f < kLineOptionFamilies; ++f)
    AppendRow(out, {lineRow, FamilyName(f), LineOptionCaption(f, p.options), ""});
  if (p.options.CheckByte() != 0)
    AppendRow(out, {checkRow, Text(Msg::kCsvOptionsHeader), std::to_string(p.options.CheckByte()), ""});
  for (int c = 0; c < kCarrierCount; ++c)
    if (const uint8_t b = p.table.Entry(c, kCheckSlot).seconds; b != 0)
      AppendRow(out, {checkRow, Carrier(c).caption, std::to_string(b), ""});
  return out;
}

std::string CsvExportProblem(const Programme& p, const CodeCatalogue& catalogue) {
  for (int c = 0; c < kCarrierCount; ++c) {
    const char* where = Carrier(c).caption;
    const SignalFamily family = FamilyOfCarrier(c);
    bool gap = false;
    for (int s = 0; s < kEditableSlots; ++s) {
      const ParamEntry e = p.table.Entry(c, s);
      if (!e.Occupied()) {
        gap = gap || (s > 0 && p.table.Occupied(c, s - 1));
        continue;
      }
      if (gap) return Text(Msg::kCsvGap, {where});
      if (OfferedCode(catalogue, family, Key(catalogue.Name(family, e.code))) != e.code)
        return Text(Msg::kCsvCodeNotListed, {where, s + 1, e.code});
      if (!OfferedSeconds(e.seconds)) return Text(Msg::kCsvTimeNotOffered, {where, s + 1, e.seconds});
    }
    for (int s = kEditableSlots; s < kSlotsPerBlock; ++s) {
      const ParamEntry e = p.table.Entry(c, s);
      if (s < kCheckSlot ? (e.code || e.seconds) : e.code != 0) return Text(Msg::kCsvPastLastStep, {where});
    }
  }
  for (int i = kCarrierCount * kBlockBytes; i < kTableBytes; ++i)
    if (p.table.bytes[size_t(i)]) return Text(Msg::kCsvSpareArea);
  for (SignalFamily f = 0; f < kLineOptionFamilies; ++f)
    if (p.options.LineOption(f) > 1)
      return Text(Msg::kCsvBadLineOption, {FamilyName(f), p.options.LineOption(f)});
  ParamOptions masks = p.options;
  for (int f = 0; f < kFamilyCount; ++f) masks.SetMaskByte(f, 0);
  UpdateCarrierMask(p.table, masks);
  if (masks != p.options) return Text(Msg::kCsvMaskMismatch);
  return {};
}

std::string CsvImport::Message() const {
  const int line = failure.detail.line;
  if (line <= 0) return StoreErrorText(failure);
  return Text(Msg::kCsvAtLine, {line, StoreErrorText(failure)});
}

std::string CsvImport::Taken() const {
  const bool checks = checkRows > 0;
  if (lineRows >= kLineOptionFamilies) return Text(checks ? Msg::kTakenAllCheck : Msg::kTakenAll);
  if (lineRows > 0) return Text(checks ? Msg::kTakenSomeCheck : Msg::kTakenSome);
  return Text(checks ? Msg::kTakenNoneCheck : Msg::kTakenNone);
}

CsvImport ParseProgrammeCsv(const std::string& bytes, const CodeCatalogue& catalogue, const Programme& current) {
  std::string text = bytes.compare(0, 3, kBom) == 0 ? bytes.substr(3) : bytes;
  if (!IsUtf8(text)) {
    bool ok = false;
    std::string converted = GbkToUtf8(text, &ok);
    if (!ok) {
      const int line = UndecodableLine(text);
      if (line > 0) return Refuse(line, StoreError::kNotText);
      return Refuse(0, StoreError::kMixedEncoding);
    }
    text = std::move(converted);
  }
  std::vector<Record> records;
  StoreFailure why;
  if (!SplitRecords(text, records, why)) return Refuse(why.detail.line, why);

  Importer importer(catalogue, current);
  bool headerSeen = false;
  for (Record& r : records) {
    // Spreadsheets pad rows with empty cells and keep empty rows: neither means anything.
    while (!r.fields.empty() && Trim(r.fields.back()).empty()) r.fields.pop_back();
    if (r.fields.empty()) continue;
    if (r.fields.size() > size_t(kColumns))
      return Refuse(r.line, StoreError::kTooManyColumns);
    r.fields.resize(size_t(kColumns));
    if (!headerSeen) {
      for (int i = 0; i < kColumns; ++i) {
        bool known = false;
        for (Language l : kLanguages) known = known || Key(r.fields[size_t(i)]) == Key(CsvHeader(l)[size_t(i)]);
        if (!known) return Refuse(r.line, StoreError::kNoHeader);
      }
      headerSeen = true;
      continue;
    }
    if (!importer.Take(r.fields, why)) return Refuse(r.line, why);
  }
  if (!headerSeen) return Refuse(0, StoreError::kEmptyTable);
  CsvImport out;
  out.ok = true;
  out.programme = importer.Result();
  out.lineRows = importer.LineRows();
  out.checkRows = importer.CheckRows();
  return out;
}

CsvImport ReadProgrammeCsv(const std::string& path, const CodeCatalogue& catalogue, const Programme& current) {
  const ReadResult f = ReadFileBytes(path, kLargestCsvFile);
  if (!f.ok) return Refuse(0, f.failure);
  return ParseProgrammeCsv(f.bytes, catalogue, current);
}

SaveResult SaveProgrammeCsv(const std::string& path, const Programme& programme, const CodeCatalogue& catalogue) {
  const std::string text = FormatProgrammeCsv(programme, catalogue);
  return WriteFileAtomically(path, text.data(), text.size());
}

}  // namespace km27
