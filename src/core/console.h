// The console of a run: the output channel (unit 6) and the keyboard for the return-key pauses.
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace tubefit {

struct Console {
  std::ostream& out;
  std::istream& in;

  // Waits for one line on the keyboard; its content is ignored. A closed or exhausted input goes on at once.
  void WaitForReturn() {
    out.flush();
    std::string ignored;
    if (in.good()) std::getline(in, ignored);
  }
};

}  // namespace tubefit
