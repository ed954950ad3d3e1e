// The run configuration file: its positional head, its keyword lines and the run settings made from them.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"

namespace tubefit {

// Reads the run configuration file named by settings.IniFile and fills the rest of `settings`, reporting
// every setting on the console as it goes. Also forms iModel from the tube type and the model family and
// applies the family rules.
// In:  settings.IniFile (name of an existing file; trailing blanks ignored).
// Out: every other field of `settings`; console lines of the configuration report.
// Stops: configuration file not readable, gnuplot path or a measurement file missing, file count outside
// 1..20, unknown tube letter or model family, missing prerequisite parameter file, missing start file,
// a value that cannot be read (the message names the file and line), an unknown SPICE dialect.
void ReadIni(Settings& settings, std::ostream& console);

// How a keyword occurrence in a record counts as a match.
enum class KeywordMatch {
  kWholeWord,  // the text from the occurrence up to the first blank, TAB or "=" must equal the keyword
  kAnywhere,   // any occurrence counts
  kLineStart,  // as kWholeWord, and only blanks and TABs stand before the keyword in the record
};

// The record of a configuration file that matches a keyword.
struct KeywordRecord {
  bool found = false;
  int32_t line = 0;    // 1-based line number of the record in the file
  std::string record;  // the record, cut to its first 80 characters
};

// True if the record (cut to 80 characters) matches the keyword: it holds the keyword text, and for
// kWholeWord and kLineStart that text runs up to a blank, TAB, "=" or the end of the record (and for
// kLineStart it is the first text of the record).
bool RecordMatchesKeyword(const std::string& record, std::string_view keyword, KeywordMatch match);

// Keyword lookup: rewinds `in` and scans it from the top, record by record, each record cut to 80
// characters; records whose first character is "#" or "*" are skipped. Only the first occurrence of the
// keyword in a record is examined. The first matching record ends the scan.
KeywordRecord FindKeyword(std::istream& in, std::string_view keyword, KeywordMatch match);

// Typed keyword lookups. The value is read free-format from the text after the first "=" of the matching
// record. `file` names the configuration file in messages. The integer and real variants return -1 when the
// keyword is absent; the text variant returns false and leaves `value` untouched, and gives the line of the
// record in `line` if asked.
// Stops: a matching record without "=" or without a value, or a value that cannot be read as its type
// (reals must also be finite).
int32_t LookupInt(std::istream& in, const std::string& file, std::string_view keyword);
float LookupReal(std::istream& in, const std::string& file, std::string_view keyword);
bool LookupText(std::istream& in, const std::string& file, std::string_view keyword, std::string& value,
                int32_t* line = nullptr);

}  // namespace tubefit
