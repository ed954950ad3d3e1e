// Formatted and list-directed text records.
//
// Every line the program writes, to the console or to a file, is built here: either from a format of edit
// descriptors ('text', nX, Aw, A, Iw, I0, Fw.d, Ew.d, n(...) groups, ':'), or in list-directed form. The
// functions return strings; writing them to a stream is a thin layer on top.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tubefit {

// One item of an output list: a 32-bit integer, a 32-bit float, a 64-bit float or a text.
class FmtItem {
 public:
  enum class Kind { kInt, kFloat, kDouble, kText };

  FmtItem(int32_t v) : kind_(Kind::kInt), i_(v) {}
  FmtItem(float v) : kind_(Kind::kFloat), f_(v) {}
  FmtItem(double v) : kind_(Kind::kDouble), d_(v) {}
  FmtItem(const char* s) : kind_(Kind::kText), s_(s) {}
  FmtItem(std::string s) : kind_(Kind::kText), s_(std::move(s)) {}
  FmtItem(std::string_view s) : kind_(Kind::kText), s_(s) {}

  Kind kind() const { return kind_; }
  int32_t AsInt() const { return i_; }
  float AsFloat() const { return f_; }
  double AsDouble() const { return d_; }
  const std::string& AsText() const { return s_; }
  bool IsReal() const { return kind_ == Kind::kFloat || kind_ == Kind::kDouble; }
  // The value of a real item as a double (exact for floats).
  double RealValue() const { return kind_ == Kind::kFloat ? static_cast<double>(f_) : d_; }

 private:
  Kind kind_;
  int32_t i_ = 0;
  float f_ = 0.0f;
  double d_ = 0.0;
  std::string s_;
};

using FmtItems = std::vector<FmtItem>;

// Single edit descriptors. All round the exact binary value once, to nearest with halves away from zero, and
// fill the field with w asterisks when the value does not fit.
std::string RenderI(int32_t value, int w);              // Iw; w = 0 gives I0 (minimum width)
std::string RenderF(double value, int w, int d);        // Fw.d
std::string RenderE(double value, int w, int d);        // Ew.d, as .ddE+xx
std::string RenderA(const std::string& text, int w);    // Aw; w < 0 gives A (the text's own length)

// List-directed fields (without the record's leading blank).
std::string ListInt(int32_t value);     // 11 columns
std::string ListFloat(float value);     // 15 columns, 7 significant digits
std::string ListDouble(double value);   // 24 columns, 16 significant digits
// The list-directed float field of ListFloat when its 7 digits read back to the same float; otherwise the
// same layout with 8 or 9 significant digits (the fewest that read back exactly). Used where values are
// handed from one run to the next.
std::string ListFloatRoundTrip(float value);

// A real value as the shortest plain ("525.12", "0.0012", "361") or E text ("8.2E+23") of the value rounded
// to `significant` digits; trailing zeros are dropped, a tie goes to the plain text.
std::string ShortestReal(double value, int significant);
// The shortest text of ShortestReal that reads back to the same 32-bit float (at most 9 digits).
std::string RoundTripFloat(float value);

// How the Fw.d and Ew.d descriptors of a formatted write render their values.
enum class RealFields {
  kFixed,      // in the field, w asterisks when the value does not fit
  kNeverFull,  // in the field where it fits; otherwise ShortestReal to the digits a full field holds
               // (w - 1 for Fw.d, d for Ew.d), so the text always means the value
  kRoundTrip,  // every real as RoundTripFloat, without padding
};

// The records produced by a formatted write of the items with the format, e.g. "(X,'R2 =',F5.1)".
// Throws std::logic_error for a malformed format or an item that does not suit its descriptor: those are
// faults of the program, not of its input.
std::vector<std::string> Format(std::string_view format, const FmtItems& items = {},
                                RealFields reals = RealFields::kFixed);
// The first record of Format (for formats that give one record).
std::string FormatLine(std::string_view format, const FmtItems& items = {}, RealFields reals = RealFields::kFixed);

// One list-directed record: a leading blank, then the items without separators.
std::string ListDirected(const FmtItems& items = {});

// Stream writers: each record ends with "\n".
void WriteFormatted(std::ostream& os, std::string_view format, const FmtItems& items = {});
void WriteList(std::ostream& os, const FmtItems& items = {});
// Writes the text without its trailing blanks as one record.
void WriteTrimmed(std::ostream& os, std::string_view text);
// Writes "*      Tubefit V" followed by the version in F5.3.
void WriteVersionLine(std::ostream& os, float version);

// The text without trailing blanks.
std::string TrimRight(std::string_view text);
// The text padded with blanks (or cut) to exactly n characters.
std::string PadTo(std::string_view text, size_t n);

// Today's local date as "dd-Mon-yyyy" (the day right-justified in two columns); its length is 11.
std::string DateStamp();
std::string DateStampFor(int year, int month, int day);

}  // namespace tubefit
