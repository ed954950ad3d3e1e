#include "text/stop.h"

#include <utility>

namespace tubefit {

namespace {
std::string JoinLines(const std::vector<std::string>& lines, const std::string& last) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all + last;
}
}  // namespace

Stop::Stop(Kind kind, std::vector<std::string> lines, std::string text)
    : std::runtime_error(JoinLines(lines, kind == Kind::kPlain ? "Stop - Program terminated." : text)),
      kind_(kind),
      lines_(std::move(lines)),
      text_(std::move(text)) {}

std::string Stop::FinalLine() const { return kind_ == Kind::kPlain ? "Stop - Program terminated." : text_; }

void StopWithText(const std::string& text, std::vector<std::string> lines) {
  throw Stop(Stop::Kind::kWithText, std::move(lines), text);
}

void PlainStop(std::vector<std::string> lines) { throw Stop(Stop::Kind::kPlain, std::move(lines), ""); }

}  // namespace tubefit
