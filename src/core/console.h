// The console of a run: the output channel (unit 6) and the keyboard for the return-key pauses.
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace tubefit {

struct Console {
  std::ostream& out;
  std::istream& in;
  // --batch: every pause is answered at once, and the console says that the run went on.
  bool batch = false;

  // Waits for one line on the keyboard; its content is ignored. A closed or exhausted input goes on at once.
  void WaitForReturn() {
    if (batch) {
      out << " (--batch: the run goes on without waiting.)\n";
      out.flush();
      return;
    }
    out.flush();
    std::string ignored;
    if (in.good()) std::getline(in, ignored);
  }
};

}  // namespace tubefit
