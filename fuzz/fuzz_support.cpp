#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace tubefit::fuzz {

namespace {

void WriteText(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << text;
}

const char kCurve[] =
    "Point Curve Ia Is Vg Va Vs Vf\r\n"
    "1 1 0.00 0.00 0 0 0 6.3\r\n"
    "2 1 0.50 0.10 0 50 50 6.3\r\n"
    "3 1 1.20 0.20 0 100 100 6.3\r\n";

const char kTriodePar[] =
    "ex      =  1.400000\n"
    "mu      =  100.0000\n"
    "kG1     =  1000.000\n"
    "kp      =  600.0000\n"
    "kVB     =  300.0000\n";

}  // namespace

const std::string& WorkDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/tubefit_fuzz_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    if (chdir(pattern) != 0) {
      std::perror("chdir");
      std::abort();
    }
    WriteText("gnuplot", "");
    WriteText("a.utd", kCurve);
    WriteText("b.utd", kCurve);
    WriteText("Triode.par", kTriodePar);
    WriteText("Triode_g3.par", kTriodePar);
    WriteText("Penthode.par", kTriodePar);
    WriteText("start.par", kTriodePar);
    return std::string(pattern);
  }();
  return dir;
}

void WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::ostream& NullConsole() {
  static NullBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

}  // namespace tubefit::fuzz
