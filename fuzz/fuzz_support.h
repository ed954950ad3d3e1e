// Shared pieces of the fuzz targets: a private working directory per process and the input written to a file
// in it, since every reader under test takes a file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

namespace tubefit::fuzz {

// Creates a fresh temporary directory for this process (once), makes it the working directory and puts the
// files named by configurations into it: a stand-in gnuplot, measurement files "a.utd" and "b.utd", and the
// parameter files that some tube types require. Returns the directory.
const std::string& WorkDir();

// Writes the bytes to `name` in the working directory (binary, truncated first).
void WriteInput(const std::string& name, const uint8_t* data, size_t size);

// A stream that drops everything written to it: the console of the readers.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

std::ostream& NullConsole();

}  // namespace tubefit::fuzz
