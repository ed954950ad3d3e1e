#include "text/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "platform/platform.h"

namespace tubefit {

namespace {

// A real value as 0.d1d2d3... x 10^exp; no digits means zero.
struct Decimal {
  bool negative = false;
  std::string digits;
  int exp = 0;
};

// The number of significant decimal digits of a finite a > 0, or a few more. With a = m * 2^e, m odd, the
// expansion of an integer (e >= 0) has at most its integer digits, and that of m * 5^-e / 10^-e (e < 0) has
// exactly the digits of m * 5^-e, log10(m) - e * log10(5) of them, since that number does not end in 0.
int ExactDigits(double a) {
  int binary_exp = 0;
  const double fraction = std::frexp(a, &binary_exp);  // a = fraction * 2^binary_exp, fraction in [0.5, 1)
  uint64_t m = static_cast<uint64_t>(std::ldexp(fraction, 53));
  int e = binary_exp - 53;
  while ((m & 1u) == 0) {
    m >>= 1;
    ++e;
  }
  if (e >= 0) return static_cast<int>(static_cast<double>(binary_exp) * 0.30103) + 2;
  int m_digits = 1;
  for (uint64_t t = m; t >= 10; t /= 10) ++m_digits;
  return m_digits + static_cast<int>(static_cast<double>(-e) * 0.69897) + 2;
}

// The exact decimal expansion of a double (at most 767 significant digits), from the shortest exact
// scientific text: every digit of a finite double is printed, so nothing is rounded.
Decimal ExactDecimal(double value) {
  Decimal x;
  x.negative = std::signbit(value);
  const double a = std::fabs(value);
  if (a == 0.0 || !std::isfinite(a)) return x;
  char buf[800];
  const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific,
                                               std::min(ExactDigits(a), 770) - 1);
  char* epos = std::find(buf, r.ptr, 'e');
  x.digits.reserve(static_cast<size_t>(epos - buf));
  x.digits.push_back(buf[0]);
  if (epos - buf > 2) x.digits.append(buf + 2, epos);
  int exp10 = 0;
  std::from_chars(epos + (epos[1] == '+' ? 2 : 1), r.ptr, exp10);
  x.exp = exp10 + 1;
  while (!x.digits.empty() && x.digits.back() == '0') x.digits.pop_back();
  return x;
}

// Rounds to `keep` significant digits, halves away from zero.
void RoundDigits(Decimal& x, int keep) {
  if (x.digits.empty() || keep >= static_cast<int>(x.digits.size())) return;
  if (keep < 0) {
    x.digits.clear();
    return;
  }
  const bool up = x.digits[keep] >= '5';
  x.digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && x.digits[i] == '9') {
      x.digits[i] = '0';
      --i;
    }
    if (i >= 0) {
      ++x.digits[i];
    } else {
      x.digits.insert(x.digits.begin(), '1');
      x.digits.resize(keep > 0 ? keep : 1);
      ++x.exp;
    }
  }
  while (!x.digits.empty() && x.digits.back() == '0') x.digits.pop_back();
}

char DigitAt(const Decimal& x, int index) {
  return index >= 0 && index < static_cast<int>(x.digits.size()) ? x.digits[index] : '0';
}

std::string Asterisks(int w) { return std::string(static_cast<size_t>(w > 0 ? w : 0), '*'); }

std::string RightJustify(const std::string& body, int w) {
  if (static_cast<int>(body.size()) > w) return Asterisks(w);
  return std::string(static_cast<size_t>(w) - body.size(), ' ') + body;
}

std::string ExponentPart(int e, int min_digits) {
  const char sign = e < 0 ? '-' : '+';
  std::string digits = std::to_string(std::abs(e));
  if (static_cast<int>(digits.size()) < min_digits) digits.insert(0, min_digits - digits.size(), '0');
  return std::string(1, sign) + digits;
}

// List-directed real: fixed form for 1 <= k <= 7 integer digits, otherwise one digit, the point and
// the fraction, then E and the exponent.
std::string ListReal(Decimal x, int significant, int fraction, int exp_digits, int width) {
  RoundDigits(x, significant);
  std::string body;
  if (!x.digits.empty() && x.exp >= 1 && x.exp <= 7) {
    for (int i = 0; i < x.exp; ++i) body += DigitAt(x, i);
    body += '.';
    for (int i = 0; i < fraction; ++i) {
      const int index = x.exp + i;
      body += index < significant ? DigitAt(x, index) : '0';
    }
  } else {
    const int e = x.digits.empty() ? 0 : x.exp - 1;
    body += DigitAt(x, 0);
    body += '.';
    for (int i = 1; i <= fraction; ++i) body += DigitAt(x, i);
    body += 'E' + ExponentPart(e, exp_digits);
  }
  if (x.negative) body.insert(0, 1, '-');
  return RightJustify(body, width);
}

// --- format interpreter ---

struct Node {
  enum class Type { kLiteral, kSkip, kColon, kSlash, kData, kGroup };
  Type type = Type::kLiteral;
  std::string text;
  int repeat = 1;
  char code = 0;
  int w = -1;
  int d = 0;
  std::vector<Node> children;
};

[[noreturn]] void BadFormat(std::string_view format, const std::string& why) {
  throw std::logic_error("bad format " + std::string(format) + ": " + why);
}

class Parser {
 public:
  explicit Parser(std::string_view format) : f_(format) {}

  std::vector<Node> ParseAll() {
    SkipBlanks();
    if (!Take('(')) BadFormat(f_, "no opening parenthesis");
    std::vector<Node> nodes = ParseList();
    SkipBlanks();
    if (pos_ != f_.size()) BadFormat(f_, "text after the closing parenthesis");
    return nodes;
  }

 private:
  std::vector<Node> ParseList() {
    std::vector<Node> nodes;
    for (;;) {
      SkipSeparators();
      if (pos_ >= f_.size()) BadFormat(f_, "unbalanced parentheses");
      const char c = f_[pos_];
      if (c == ')') {
        ++pos_;
        return nodes;
      }
      Node node;
      if (c == '\'' || c == '"') {
        node.type = Node::Type::kLiteral;
        node.text = ParseQuoted(c);
      } else if (c == ':') {
        ++pos_;
        node.type = Node::Type::kColon;
      } else if (c == '/') {
        ++pos_;
        node.type = Node::Type::kSlash;
      } else {
        const int n = ParseNumber(1);
        const char k = pos_ < f_.size() ? static_cast<char>(std::toupper(f_[pos_])) : '\0';
        if (k == 'X') {
          ++pos_;
          node.type = Node::Type::kSkip;
          node.repeat = n;
        } else if (k == '(') {
          ++pos_;
          node.type = Node::Type::kGroup;
          node.repeat = n;
          node.children = ParseList();
        } else if (k == 'A' || k == 'I' || k == 'F' || k == 'E') {
          ++pos_;
          node.type = Node::Type::kData;
          node.repeat = n;
          node.code = k;
          node.w = ParseNumber(-1);
          if (k != 'A' && node.w < 0) BadFormat(f_, "descriptor without width");
          if (k == 'F' || k == 'E') {
            if (!Take('.')) BadFormat(f_, "real descriptor without digits");
            node.d = ParseNumber(-1);
            if (node.d < 0) BadFormat(f_, "real descriptor without digits");
          }
        } else {
          BadFormat(f_, "unknown edit descriptor");
        }
      }
      nodes.push_back(std::move(node));
    }
  }

  std::string ParseQuoted(char quote) {
    ++pos_;
    std::string text;
    for (;;) {
      if (pos_ >= f_.size()) BadFormat(f_, "unterminated literal");
      const char c = f_[pos_++];
      if (c == quote) {
        if (pos_ < f_.size() && f_[pos_] == quote) {
          text += quote;
          ++pos_;
          continue;
        }
        return text;
      }
      text += c;
    }
  }

  int ParseNumber(int fallback) {
    if (pos_ >= f_.size() || !std::isdigit(static_cast<unsigned char>(f_[pos_]))) return fallback;
    int n = 0;
    while (pos_ < f_.size() && std::isdigit(static_cast<unsigned char>(f_[pos_]))) n = n * 10 + (f_[pos_++] - '0');
    return n;
  }

  bool Take(char c) {
    if (pos_ < f_.size() && f_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void SkipBlanks() {
    while (pos_ < f_.size() && f_[pos_] == ' ') ++pos_;
  }
  void SkipSeparators() {
    while (pos_ < f_.size() && (f_[pos_] == ' ' || f_[pos_] == ',')) ++pos_;
  }

  std::string_view f_;
  size_t pos_ = 0;
};

bool HasData(const std::vector<Node>& nodes) {
  for (const Node& n : nodes) {
    if (n.type == Node::Type::kData) return true;
    if (n.type == Node::Type::kGroup && HasData(n.children)) return true;
  }
  return false;
}

class Interpreter {
 public:
  Interpreter(std::string_view format, const FmtItems& items, RealFields reals)
      : format_(format), items_(items), reals_(reals) {}

  std::vector<std::string> Run() {
    const std::vector<Node> top = Parser(format_).ParseAll();
    size_t revert = 0;
    for (size_t i = 0; i < top.size(); ++i)
      if (top[i].type == Node::Type::kGroup) revert = i;
    const bool has_data = HasData(top);
    bool go_on = RunList(top, 0);
    while (go_on && HasItems()) {
      if (!has_data) BadFormat(format_, "items left but no data descriptor");
      records_.push_back(current_);
      current_.clear();
      go_on = RunList(top, revert);
    }
    records_.push_back(current_);
    return records_;
  }

 private:
  bool HasItems() const { return next_ < items_.size(); }

  // Returns false when output ends (no item for a data descriptor, or a colon with no items left).
  bool RunList(const std::vector<Node>& nodes, size_t from) {
    for (size_t i = from; i < nodes.size(); ++i)
      if (!RunNode(nodes[i])) return false;
    return true;
  }

  bool RunNode(const Node& node) {
    switch (node.type) {
      case Node::Type::kLiteral:
        current_ += node.text;
        return true;
      case Node::Type::kSkip:
        current_.append(static_cast<size_t>(node.repeat), ' ');
        return true;
      case Node::Type::kColon:
        return HasItems();
      case Node::Type::kSlash:
        records_.push_back(current_);
        current_.clear();
        return true;
      case Node::Type::kData:
        for (int r = 0; r < node.repeat; ++r) {
          if (!HasItems()) return false;
          current_ += Render(node, items_[next_++]);
        }
        return true;
      case Node::Type::kGroup:
        // A repeated group is not entered again once the items are used up, so nothing of it is written
        // after the last item's group.
        for (int r = 0; r < node.repeat; ++r) {
          if (r > 0 && !HasItems()) break;
          if (!RunList(node.children, 0)) return false;
        }
        return true;
    }
    return true;
  }

  std::string Render(const Node& node, const FmtItem& item) const {
    switch (node.code) {
      case 'A':
        if (item.kind() != FmtItem::Kind::kText) BadFormat(format_, "A descriptor needs a text item");
        return RenderA(item.AsText(), node.w);
      case 'I':
        if (item.kind() != FmtItem::Kind::kInt) BadFormat(format_, "I descriptor needs an integer item");
        return RenderI(item.AsInt(), node.w);
      default:
        break;
    }
    if (!item.IsReal()) BadFormat(format_, std::string(1, node.code) + " descriptor needs a real item");
    const double value = item.RealValue();
    if (reals_ == RealFields::kRoundTrip && std::isfinite(value)) {
      return item.kind() == FmtItem::Kind::kFloat ? RoundTripFloat(item.AsFloat()) : ShortestReal(value, 17);
    }
    const std::string field = node.code == 'F' ? RenderF(value, node.w, node.d) : RenderE(value, node.w, node.d);
    if (reals_ == RealFields::kFixed || !std::isfinite(value) || field != Asterisks(node.w)) return field;
    return ShortestReal(value, node.code == 'F' ? node.w - 1 : node.d);
  }

  std::string_view format_;
  const FmtItems& items_;
  RealFields reals_;
  size_t next_ = 0;
  std::vector<std::string> records_;
  std::string current_;
};

}  // namespace

std::string RenderI(int32_t value, int w) {
  const std::string s = std::to_string(value);
  if (w == 0) return s;
  return RightJustify(s, w);
}

std::string RenderF(double value, int w, int d) {
  if (!std::isfinite(value)) return Asterisks(w);
  Decimal x = ExactDecimal(value);
  RoundDigits(x, x.exp + d);
  std::string int_part;
  if (x.digits.empty() || x.exp <= 0) {
    int_part = "0";
  } else {
    for (int i = 0; i < x.exp; ++i) int_part += DigitAt(x, i);
  }
  std::string frac;
  for (int j = 0; j < d; ++j) frac += x.digits.empty() ? '0' : DigitAt(x, x.exp + j);
  const std::string sign = x.negative ? "-" : "";
  std::string body = sign + int_part + "." + frac;
  if (static_cast<int>(body.size()) > w && int_part == "0" && d > 0) body = sign + "." + frac;
  return RightJustify(body, w);
}

std::string RenderE(double value, int w, int d) {
  if (!std::isfinite(value)) return Asterisks(w);
  Decimal x = ExactDecimal(value);
  RoundDigits(x, d);
  const int e = x.digits.empty() ? 0 : x.exp;
  std::string mantissa;
  for (int i = 0; i < d; ++i) mantissa += DigitAt(x, i);
  std::string exp_part;
  if (std::abs(e) <= 99) {
    exp_part = "E" + ExponentPart(e, 2);
  } else if (std::abs(e) <= 999) {
    exp_part = ExponentPart(e, 3);
  } else {
    return Asterisks(w);
  }
  return RightJustify(std::string(x.negative ? "-" : "") + "." + mantissa + exp_part, w);
}

std::string RenderA(const std::string& text, int w) {
  if (w < 0) return text;
  if (static_cast<int>(text.size()) >= w) return text.substr(0, static_cast<size_t>(w));
  return std::string(static_cast<size_t>(w) - text.size(), ' ') + text;
}

std::string ListInt(int32_t value) { return RenderI(value, 11); }

std::string ListFloat(float value) {
  if (!std::isfinite(value)) return RightJustify(std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity"), 15);
  return ListReal(ExactDecimal(value), 7, 6, 2, 15);
}

std::string ListFloatRoundTrip(float value) {
  if (!std::isfinite(value)) return ListFloat(value);
  std::string field;
  const Decimal exact = ExactDecimal(value);
  for (int significant = 7; significant <= 9; ++significant) {
    Decimal x = exact;
    RoundDigits(x, significant);
    const bool fixed = !x.digits.empty() && x.exp >= 1 && x.exp <= 7;
    // The fixed form keeps its six fraction digits and shows every significant digit; the E form shows
    // one digit before the point and the rest after it.
    const int fraction = std::max(6, significant - (fixed ? x.exp : 1));
    field = ListReal(exact, significant, fraction, 2, 15);
    if (std::strtof(field.c_str(), nullptr) == value) break;
  }
  return field;
}

std::string ListDouble(double value) {
  if (!std::isfinite(value)) return RightJustify(std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity"), 24);
  return ListReal(ExactDecimal(value), 16, 15, 3, 24);
}

namespace {

// ShortestReal of the exact expansion x.
std::string ShortestText(Decimal x, int significant) {
  RoundDigits(x, std::max(significant, 1));
  if (x.digits.empty()) return "0";
  const std::string& D = x.digits;
  const int m = static_cast<int>(D.size());
  std::string plain;
  if (x.exp >= m) {
    plain = D + std::string(static_cast<size_t>(x.exp - m), '0');
  } else if (x.exp > 0) {
    plain = D.substr(0, static_cast<size_t>(x.exp)) + "." + D.substr(static_cast<size_t>(x.exp));
  } else {
    plain = "0." + std::string(static_cast<size_t>(-x.exp), '0') + D;
  }
  std::string e_form = D.substr(0, 1);
  if (m > 1) e_form += "." + D.substr(1);
  e_form += "E" + ExponentPart(x.exp - 1, 2);
  const std::string& shortest = e_form.size() < plain.size() ? e_form : plain;
  return (x.negative ? "-" : "") + shortest;
}

}  // namespace

std::string ShortestReal(double value, int significant) { return ShortestText(ExactDecimal(value), significant); }

std::string RoundTripFloat(float value) {
  std::string text;
  const Decimal exact = ExactDecimal(value);
  for (int significant = 1; significant <= 9; ++significant) {
    text = ShortestText(exact, significant);
    if (std::strtof(text.c_str(), nullptr) == value) break;
  }
  return text;
}

std::vector<std::string> Format(std::string_view format, const FmtItems& items, RealFields reals) {
  return Interpreter(format, items, reals).Run();
}

std::string FormatLine(std::string_view format, const FmtItems& items, RealFields reals) {
  return Format(format, items, reals).front();
}

std::string ListDirected(const FmtItems& items) {
  std::string record = " ";
  for (const FmtItem& item : items) {
    switch (item.kind()) {
      case FmtItem::Kind::kInt:
        record += ListInt(item.AsInt());
        break;
      case FmtItem::Kind::kFloat:
        record += ListFloat(item.AsFloat());
        break;
      case FmtItem::Kind::kDouble:
        record += ListDouble(item.AsDouble());
        break;
      case FmtItem::Kind::kText:
        record += item.AsText();
        break;
    }
  }
  return record;
}

void WriteFormatted(std::ostream& os, std::string_view format, const FmtItems& items) {
  for (const std::string& record : Format(format, items)) os << record << '\n';
}

void WriteList(std::ostream& os, const FmtItems& items) { os << ListDirected(items) << '\n'; }

std::string TrimRight(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && text[n - 1] == ' ') --n;
  return std::string(text.substr(0, n));
}

std::string PadTo(std::string_view text, size_t n) {
  std::string s(text.substr(0, std::min(n, text.size())));
  s.resize(n, ' ');
  return s;
}

void WriteTrimmed(std::ostream& os, std::string_view text) { os << TrimRight(text) << '\n'; }

void WriteVersionLine(std::ostream& os, float version) {
  os << "*      Tubefit V" << RenderF(version, 5, 3) << '\n';
}

std::string DateStampFor(int year, int month, int day) {
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const std::string name = month >= 1 && month <= 12 ? std::string(kMonths + 3 * (month - 1), 3) : "???";
  return RenderI(day, 2) + "-" + name + "-" + RenderI(year, 4);
}

std::string DateStamp() {
  int year = 0, month = 0, day = 0;
  LocalDate(year, month, day);
  return DateStampFor(year, month, day);
}

}  // namespace tubefit
