// Where a numerical routine reports a warning that it goes on from ("brent exceeds maximum iterations",
// "singular matrix in gaussj"). The routine calls the sink at the moment the condition arises, so a caller
// that prints the text keeps its place among the other console lines; the routine itself never prints.
#pragma once

#include <functional>
#include <string>

namespace tubefit {

using WarningSink = std::function<void(const std::string& text)>;

// Hands text to the sink, if there is one.
inline void Warn(const WarningSink& sink, const std::string& text) {
  if (sink) sink(text);
}

}  // namespace tubefit
