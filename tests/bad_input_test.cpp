// Bad input across the whole run: the real program is started in a scratch directory on broken measurement,
// configuration and parameter files. Every run must end with a message that names the file (and the line
// where there is one) and exit status 1, without a crash or a hang, and must leave a good "Triode.par" alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "core/param_set.h"
#include "estimate/parfiles.h"
#include "ini_fixture.h"
#include "process_support.h"
#include "text/stop.h"

namespace tubefit {
namespace {

// A triode "Triode.par" as a good earlier X run leaves it.
const char kGoodTriodePar[] =
    " kVB =     300.000000\n kG1 =    1060.000000\n kp  =     600.000000\n ex  =      1.4000000\n"
    " mu  =     100.000000\n";

const char kHeader[] = "Point    Curve     Ia (mA)        Is (mA)       Vg (V)          Va (V)         Vs (V)         Vf (V)";

// Point records of a triode curve at grid voltage vg: Ia = 1 mA/V^1.5 * (Va/mu + vg)^1.5, ten points.
std::vector<std::string> TriodeCurve(int vg) {
  std::vector<std::string> records;
  for (int n = 1; n <= 10; ++n) {
    const double va = 30.0 * (n - 1);
    const double e = va / 100.0 + vg;
    const double ia = e > 0.0 ? std::pow(e, 1.5) : 0.0;
    char line[128];
    std::snprintf(line, sizeof line, "%d 1 %.2f 0.00 %d %.0f %.0f 6.3", n, ia, vg, va, va);
    records.push_back(line);
  }
  return records;
}

class BadInputTest : public IniDirTest {
 protected:
  struct Result {
    bool exited = false;  // ended by exit, not by a signal or the time limit
    int status = -1;
    std::vector<std::string> lines;
  };

  // Runs the program with the working directory of the test, keyboard input closed, console captured.
  // A run that takes more than two minutes is ended and counts as a hang.
  // The console goes to a file beside the working directory, so the directory holds only what the run left.
  Result Run(const std::vector<std::string>& args = {}) const {
    std::vector<std::string> argv{TUBEFIT_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string console = dir_->path() + ".console";
    const testsupport::RunOutcome outcome = testsupport::RunCaptured(argv, console, 120);
    Result result;
    result.exited = outcome.exited;
    result.status = outcome.status;
    result.lines = SplitLines(ReadAll(console));
    testsupport::TempDir::RemoveSoon(console);
    return result;
  }

  // A configuration for one measurement file.
  static void WriteConfig(const std::string& data_file, char tube = 'T', const std::string& family = "Koren",
                          const std::string& pmax = "1.0") {
    WriteFile("Model.ini", Lines({"fakegnuplot", "1", data_file, std::string(1, tube), family, pmax, "0.0"}));
  }

  // A triode measurement file of five curves (grid 0 to -4 V), CRLF line ends, with `extra` appended.
  static void WriteTriodeFile(const std::string& name, const std::vector<std::string>& extra = {}) {
    std::string text = std::string(kHeader) + "\r\n";
    for (int vg = 0; vg >= -4; --vg) {
      for (const std::string& r : TriodeCurve(vg)) text += r + "\r\n";
    }
    for (const std::string& r : extra) text += r + "\r\n";
    WriteFile(name, text);
  }

  static std::string ReadAll(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // The last `n` console lines.
  static std::vector<std::string> Tail(const Result& r, size_t n) {
    if (r.lines.size() < n) return r.lines;
    return std::vector<std::string>(r.lines.end() - static_cast<std::ptrdiff_t>(n), r.lines.end());
  }

  // The line that names the measurement file looked for on line 3 of Model.ini.
  std::string LookedFor(const std::string& name) const {
    const std::string path = (std::filesystem::path(dir_->path()) / (name + ".utd")).string();
    return " Looked for " + path + ", named on line 3 of Model.ini.";
  }

  static void ExpectFailure(const Result& r, const std::vector<std::string>& last_lines) {
    ASSERT_TRUE(r.exited) << "the run crashed or hung";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Tail(r, last_lines.size()), last_lines);
  }
};

const char kPlainStop[] = "Stop - Program terminated.";

TEST_F(BadInputTest, GoodTriodeFileRunsToTheEnd) {
  // The reference for the tests below: the same files without a fault give a complete run.
  WriteTriodeFile("good.utd");
  WriteConfig("good");
  const Result r = Run();
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::filesystem::exists("good.cir"));
}

// A path of the objective that does not exist stops the run before anything is read or written.
TEST_F(BadInputTest, UnknownSimdPathStopsBeforeTheRun) {
  WriteTriodeFile("good.utd");
  WriteConfig("good");
  testsupport::SetEnv("TUBEFIT_SIMD", "sse9");
  const Result r = Run();
  testsupport::SetEnv("TUBEFIT_SIMD", nullptr);
  ExpectFailure(r, {" TUBEFIT_SIMD=sse9 is unknown: use scalar, avx2 or avx512.", "Execution halts"});
  EXPECT_FALSE(std::filesystem::exists("Model.par"));
}

TEST_F(BadInputTest, MeasurementFileWithOnlyItsHeader) {
  WriteFile("h.utd", std::string(kHeader) + "\r\n");
  WriteConfig("h");
  ExpectFailure(Run(), {" File h.utd: the file holds no measured points.", kPlainStop});
}

TEST_F(BadInputTest, MeasurementFileCutInsideARecord) {
  WriteFile("t.utd", std::string(kHeader) + "\r\n1 1 0.00 0.00 0 0 0 6.3\r\n2 1 0.05 0.0");
  WriteConfig("t");
  ExpectFailure(Run(), {" File t.utd, line 3: the record holds 4 items instead of eight numbers.", kPlainStop});
}

TEST_F(BadInputTest, EmptyMeasurementFile) {
  Touch("e.utd");
  WriteConfig("e");
  ExpectFailure(Run(), {" File e.utd: the file is empty; a .utd file holds a header line, then one line per measured point.", kPlainStop});
}

TEST_F(BadInputTest, MeasurementFileThatIsADirectory) {
  ASSERT_TRUE(std::filesystem::create_directory("d.utd"));
  WriteConfig("d");
  ExpectFailure(Run(), {" The data file d does not exist.", LookedFor("d"), " Execution halts.", kPlainStop});
}

#ifndef _WIN32
// Named pipes, devices, permissions and /proc as Linux has them.
TEST_F(BadInputTest, MeasurementFileThatIsANamedPipeDoesNotHang) {
  // Opening a pipe without a writer would wait for ever; it is not a measurement file.
  ASSERT_EQ(mkfifo("p.utd", 0644), 0);
  WriteConfig("p");
  ExpectFailure(Run(), {" The data file p does not exist.", LookedFor("p"), " Execution halts.", kPlainStop});
}

TEST_F(BadInputTest, StartFileThatIsADeviceIsRefused) {
  // /dev/zero opens and reads without end: as a start file it filled the memory one endless record at a time.
  if (!std::filesystem::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
  WriteTriodeFile("good.utd");
  WriteFile("Model.ini", Lines({"fakegnuplot", "1", "good", "T", "Koren", "1.0", "0.0", "RdStart = /dev/zero"}));
  ExpectFailure(Run(), {" File /dev/zero does not exist.", " Execution halts.", kPlainStop});
}

TEST_F(BadInputTest, UnreadableMeasurementFile) {
  WriteTriodeFile("u.utd");
  ASSERT_EQ(chmod("u.utd", 0), 0);
  if (access("u.utd", R_OK) == 0) GTEST_SKIP() << "permissions do not stop this user from reading (root)";
  WriteConfig("u");
  ExpectFailure(Run(), {" The data file u does not exist.", LookedFor("u"), " Execution halts.", kPlainStop});
}

TEST_F(BadInputTest, MeasurementFileWhoseReadFails) {
  // A file that opens but cannot be read, whatever the user: the memory file of the reading process gives
  // an input error at offset 0.
  if (!std::filesystem::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc";
  std::filesystem::create_symlink("/proc/self/mem", "r.utd");
  WriteConfig("r");
  ExpectFailure(Run(), {" Unable to open File r.utd; aborting.", kPlainStop});
}
#else
// Names that Windows cannot open as files stop the run, named with their line.
TEST_F(BadInputTest, WindowsDeviceNamesAndForbiddenCharactersStop) {
  WriteTriodeFile("good.utd");
  WriteConfig("con");
  ExpectFailure(Run(), {" Error reading Model.ini, line 3: the file name con cannot be used: con is a device name "
                        "that Windows reserves.",
                        "Execution halts"});
  WriteConfig("data\\LPT1.old");
  ExpectFailure(Run(), {" Error reading Model.ini, line 3: the file name data\\LPT1.old cannot be used: LPT1.old is a "
                        "device name that Windows reserves.",
                        "Execution halts"});
  WriteFile("Model.ini", Lines({"fakegnuplot", "1", "good", "T", "Koren", "1.0", "0.0", "Debug = 0",
                                "RdStart = start?.par"}));
  ExpectFailure(Run(), {" Error reading Model.ini, line 9: the file name start?.par cannot be used: Windows does not "
                        "allow the character ? in a file name.",
                        "Execution halts"});
  ExpectFailure(Run({"NUL"}), {" Ini file NUL cannot be used: NUL is a device name that Windows reserves.",
                               "Execution halts"});
  EXPECT_FALSE(std::filesystem::exists("Model.par"));
}

// Drive letters, backslashes, blanks and a letter outside ASCII (UTF-8 in Model.ini, as Notepad saves it) in
// the names of Model.ini, on its data-file and RdStart lines and on the command line. The RdStart value is one
// free-format item, so a name with blanks is quoted there.
TEST_F(BadInputTest, WindowsPathsWithDriveBackslashesAndBlanks) {
  const std::string sub = "my d\xc3\xa5ta";  // "my data" with a ring above the a
  // std::filesystem reads a narrow name in the C runtime's code page; u8path says it is UTF-8.
  std::filesystem::create_directory(std::filesystem::u8path(sub));
  WriteTriodeFile(sub + "\\good one.utd");
  WriteFile(sub + "\\start.par", kGoodTriodePar);
  std::string folder = std::filesystem::current_path().string() + "\\" + sub;
  for (char& ch : folder) ch = ch == '/' ? '\\' : ch;
  ASSERT_EQ(folder[1], ':');
  WriteFile(sub + "\\run it.ini", Lines({testsupport::StandIn(), "1", folder + "\\good one", "T", "Koren", "1.0",
                                          "0.0", "RdStart = \"" + folder + "\\start.par\""}));
  const Result r = Run({folder + "\\run it.ini"});
  ASSERT_TRUE(r.exited);
  std::string console;
  for (const std::string& line : r.lines) console += line + "\n";
  EXPECT_EQ(r.status, 0) << console;
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), " Reading starting parameters from file " + folder + "\\start.par"),
            r.lines.end());
  // The subcircuit is named after the file, without its folder.
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(),
                      " The model name good one holds characters a SPICE name cannot; the subcircuit is named good_one."),
            r.lines.end());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(sub + "\\good one.cir")));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(sub + "\\good one.dat")));
}
#endif

TEST_F(BadInputTest, NaNInAMeasurementFile) {
  WriteTriodeFile("n.utd", {"1 1 0.00 0.00 -5 0 0 6.3", "2 1 nan 0.00 -5 30 30 6.3"});
  WriteConfig("n");
  ExpectFailure(Run(), {" File n.utd, line 53: item 3 (nan) is not a number.", kPlainStop});
}

TEST_F(BadInputTest, NumberBeyondSinglePrecisionInAMeasurementFile) {
  WriteTriodeFile("n.utd", {"1 1 0.00 0.00 -5 0 0 6.3", "2 1 1e39 0.00 -5 30 30 6.3"});
  WriteConfig("n");
  ExpectFailure(Run(), {" File n.utd, line 53: item 3 (1e39) is not a finite number.", kPlainStop});
}

TEST_F(BadInputTest, InfinityInAMeasurementFile) {
  WriteTriodeFile("n.utd", {"1 1 0.00 0.00 -5 0 0 6.3", "2 1 0.00 0.00 -5 inf 30 6.3"});
  WriteConfig("n");
  ExpectFailure(Run(), {" File n.utd, line 53: item 6 (inf) is not a number.", kPlainStop});
}

TEST_F(BadInputTest, HugeScreenCurrentOfAnXRunLeavesTriodeParAlone) {
  // -3e38 mA is a float, but as Ia + Is of a strapped pentode it lies in the fit window and made the fit
  // produce NaN parameters, which went into Triode.par.
  WriteFile("Triode.par", kGoodTriodePar);
  WriteTriodeFile("x.utd", {"1 1 0.00 0.00 -5 0 0 6.3", "2 1 1.00 -3e38 -5 30 30 6.3"});
  WriteConfig("x", 'X');
  ExpectFailure(Run(), {" File x.utd, line 53: item 4 (-3e38) is too large; readings must lie between -1000000 and "
                        "1000000.",
                        kPlainStop});
  EXPECT_EQ(ReadAll("Triode.par"), kGoodTriodePar);
  EXPECT_FALSE(std::filesystem::exists("Model.par"));
}

TEST_F(BadInputTest, CurveWithoutMeasuredPoints) {
  // A curve is started by its point 1 and here ends at once: the sweep recorded nothing.
  WriteTriodeFile("c.utd", {"1 1 0.00 0.00 -5 0 0 6.3"});
  WriteConfig("c");
  ExpectFailure(Run(), {" File c.utd: curve 6 holds only one point.", kPlainStop});
}

TEST_F(BadInputTest, CurveWithoutMeasuredPointsBeforeAnother) {
  std::vector<std::string> extra = {"1 1 0.00 0.00 -5 0 0 6.3"};
  for (const std::string& r : TriodeCurve(-6)) extra.push_back(r);
  WriteTriodeFile("c.utd", extra);
  WriteConfig("c");
  ExpectFailure(Run(), {" File c.utd: curve 6 holds only one point.", kPlainStop});
}

TEST_F(BadInputTest, ConfigurationLineOfTenThousandCharacters) {
  WriteTriodeFile("good.utd");
  WriteFile("Model.ini", Lines({"fakegnuplot", "1", "good", "T", "Koren", "1.0" + std::string(10000, 'x'), "0.0"}));
  ExpectFailure(Run(), {" Error reading Model.ini, line 6: expected a number for Pmax, found \"1.0" +
                            std::string(37, 'x') + "...\".",
                        "Execution halts"});
}

TEST_F(BadInputTest, NumberOfTenThousandDigitsIsANumber) {
  // A long line is no fault by itself: Pmax 1.0555... W is read correctly rounded.
  WriteTriodeFile("good.utd");
  WriteFile("Model.ini", Lines({"fakegnuplot", "1", "good", "T", "Koren", "1.0" + std::string(10000, '5'), "0.0"}));
  const Result r = Run();
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), " Fitting model to max power data <       1.055556 W."),
            r.lines.end());
}

TEST_F(BadInputTest, FileNameLineOfTenThousandCharacters) {
  // Names are read from the first 132 characters of their line.
  const std::string name(10000, 'f');
  WriteFile("Model.ini", Lines({"fakegnuplot", "1", name, "T", "Koren", "1.0", "0.0"}));
  ExpectFailure(Run(), {" The data file " + name.substr(0, 132) + " does not exist.", LookedFor(name.substr(0, 132)),
                        " Execution halts.", kPlainStop});
}

TEST_F(BadInputTest, LongKeywordLineIsReadFromItsFirstEightyCharacters) {
  // A long keyword line is no fault: its value lies within the first 80 characters. The run then stops at
  // the missing measurement file, after reporting the debug level.
  WriteFile("Model.ini",
            Lines({"fakegnuplot", "1", "missing", "T", "Koren", "1.0", "0.0", "Debug = 1" + std::string(10000, ' ') + "x"}));
  Touch("missing.utd");
  const Result r = Run();
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), " Debug level =          1"), r.lines.end());
  EXPECT_EQ(Tail(r, 2), (std::vector<std::string>{" File missing.utd: the file is empty; a .utd file holds a header line, then one line per measured point.", kPlainStop}));
}

TEST_F(BadInputTest, NoPointInsideTheFitWindowLeavesTriodeParAlone) {
  // With Pmax 0 W no point has Va*Ia below it: the fit would hand on its start values as a result.
  WriteFile("Triode.par", kGoodTriodePar);
  WriteTriodeFile("x.utd");
  WriteConfig("x", 'X', "Koren", "0");
  ExpectFailure(Run(), {" Total number of datapoints in the fit equals:    0.",
                        " No datapoint lies inside the fit window Va*Ia < Pmax, Ia+Is < Icmax set in Model.ini.",
                        " Pmax =   0.000000E+00 W, Icmax =    1000.000000 mA.", "Execution halts"});
  EXPECT_EQ(ReadAll("Triode.par"), kGoodTriodePar);
  EXPECT_FALSE(std::filesystem::exists("Model.par"));
}

TEST_F(BadInputTest, XRunThatFailsAfterItsEstimatesLeavesTriodeParAlone) {
  // The subcircuit file cannot be written (a directory has its name): the run ends after the start values
  // went to Model.par, but the good Triode.par of an earlier fit stays.
  WriteFile("Triode.par", kGoodTriodePar);
  WriteTriodeFile("x.utd");
  ASSERT_TRUE(std::filesystem::create_directory("x.cir"));
  WriteConfig("x", 'X');
  ExpectFailure(Run(), {" Cannot write file x.cir.", "Execution halts"});
  EXPECT_EQ(ReadAll("Triode.par"), kGoodTriodePar);
  EXPECT_TRUE(std::filesystem::exists("Model.par"));
}

TEST_F(BadInputTest, XRunThatEndsWellReplacesTriodePar) {
  WriteFile("Triode.par", kGoodTriodePar);
  WriteTriodeFile("x.utd");
  WriteConfig("x", 'X');
  const Result r = Run();
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadAll("Triode.par"), ReadAll("Model.par"));
  EXPECT_NE(ReadAll("Triode.par"), kGoodTriodePar);
}

TEST_F(BadInputTest, PentodeRunWithoutTriodePar) {
  WriteTriodeFile("p.utd");
  WriteConfig("p", 'P', "Koren");
  ExpectFailure(Run(), {" For fitting a Penthode or Beam tetrode the triode parameter file Triode.par should exist.",
                        " This file will be created when fitting the triode model.",
                        " As this file seems not to exist, execution halts.", kPlainStop});
}

TEST_F(BadInputTest, PentodeRunWithATriodeParThatIsADirectory) {
  ASSERT_TRUE(std::filesystem::create_directory("Triode.par"));
  WriteTriodeFile("p.utd");
  WriteConfig("p", 'P', "Koren");
  ExpectFailure(Run(), {" As this file seems not to exist, execution halts.", kPlainStop});
}

// A pentode measurement file at constant screen voltage 250 V and screen current 0.5 mA, three curves
// (grid 0 to -2 V): Ia = (Va/100 + Vg + 3)^1.5 * (1 - exp(-Va/40)) mA.
void WritePentodeFile(const std::string& name) {
  std::string text = std::string(kHeader) + "\n";
  for (int vg = 0; vg >= -2; --vg) {
    for (int n = 1; n <= 10; ++n) {
      const double va = 30.0 * (n - 1);
      const double ia = std::pow(va / 100.0 + vg + 3.0, 1.5) * (1.0 - std::exp(-va / 40.0));
      char line[128];
      std::snprintf(line, sizeof line, "%d 1 %.2f 0.50 %d %.0f 250 6.3", n, ia, vg, va);
      text += std::string(line) + "\n";
    }
  }
  std::ofstream(name, std::ios::binary) << text;
}

TEST_F(BadInputTest, PentodeRunWithABadValueInTriodePar) {
  WritePentodeFile("p.utd");
  WriteFile("Triode.par", " kVB = 300\n mu = abc\n");
  WriteConfig("p", 'P', "Koren");
  ExpectFailure(Run(), {" Error reading File Triode.par line 2: the value of mu is \"abc\", not a number.",
                        " Execution halts.", kPlainStop});
}

TEST_F(BadInputTest, PentodeRunWithATriodeParLackingValues) {
  WritePentodeFile("p.utd");
  WriteFile("Triode.par", " kVB = 300\n");
  WriteConfig("p", 'P', "Koren");
  ExpectFailure(Run(), {" Cannot find parameter ex in File Triode.par.", " Cannot find parameter mu in File Triode.par.",
                        " Cannot find parameter kG1 in File Triode.par.",
                        " Cannot find parameter kp in File Triode.par.", "Execution halts"});
}

TEST(WriteParFilesGuard, NonFiniteValueWritesNoFile) {
  testsupport::TempDir dir("tubefit_guard_");
  ASSERT_TRUE(dir.ok());
  {
    std::ofstream out("Triode.par", std::ios::binary);
    out << kGoodTriodePar;
  }
  ParamSet ps;
  ps.NFit = 2;
  ps.name[1] = "mu";
  ps.name[2] = "kp";
  ps.P[1] = 20.0f;
  ps.P[2] = std::numeric_limits<float>::quiet_NaN();
  std::ostringstream console;
  std::string message;
  try {
    WriteParFiles('X', ps, console);
  } catch (const Stop& stop) {
    message = stop.lines().empty() ? "" : stop.lines()[0];
    EXPECT_EQ(stop.FinalLine(), "Execution halts");
  }
  EXPECT_EQ(message, " Parameter kp is not a finite number (NaN); Model.par and Triode.par are left unchanged.");
  EXPECT_EQ(console.str(), "");
  std::ifstream in("Triode.par", std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), kGoodTriodePar);
  EXPECT_FALSE(std::filesystem::exists("Model.par"));
}

}  // namespace
}  // namespace tubefit
