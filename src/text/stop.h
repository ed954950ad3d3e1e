// The one way a run ends early. A routine that detects a fatal condition throws a Stop carrying the console
// records it must print; the driver writes them, then the stop text or "Stop - Program terminated.", and the
// program exits with status 1.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tubefit {

class Stop : public std::runtime_error {
 public:
  enum class Kind { kWithText, kPlain };

  Stop(Kind kind, std::vector<std::string> lines, std::string text);

  Kind kind() const { return kind_; }
  // Complete console records printed before the stop line, in order.
  const std::vector<std::string>& lines() const { return lines_; }
  // The stop text (kWithText only).
  const std::string& text() const { return text_; }
  // The last console line of the stop: the text, or "Stop - Program terminated.".
  std::string FinalLine() const;

 private:
  Kind kind_;
  std::vector<std::string> lines_;
  std::string text_;
};

// Ends the run with a stop text (for example "Execution halts"), after the given console records.
[[noreturn]] void StopWithText(const std::string& text, std::vector<std::string> lines = {});
// Ends the run with "Stop - Program terminated.", after the given console records.
[[noreturn]] void PlainStop(std::vector<std::string> lines = {});

}  // namespace tubefit
