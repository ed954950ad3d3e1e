// Expected lines are worked out by hand from the list-directed rules: a record starts with one blank, a
// float takes 15 columns with 7 significant digits (fixed form for 1 <= |v| < 1e7, else d.ddddddE+xx).
#include "estimate/parfiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "estimate_test_support.h"
#include "models/models.h"
#include "text/format.h"

namespace tubefit {
namespace {

using esttest::Join;
using esttest::Lines;
using esttest::ReadFile;
using esttest::StopOf;
using esttest::WorkDir;
using esttest::WriteFile;

// Code 12: alpha_s, beta, A, kG2, kG1, mu, ex, kp, kVB; values that 7 digits give exactly.
ParamSet PentodeSet() {
  ParamSet ps;
  ParamIdent(12, ps);
  const float v[] = {1.5f, 0.05f, 0.001f, 5000.0f, 1000.0f, 12.5f, 1.25f, 300.0f, 250.0f};
  for (int i = 1; i <= 9; ++i) ps.P[i] = v[i - 1];
  return ps;
}

const std::vector<std::string> kPentodeLines = {
    " alpha_s =       1.500000", " beta    =   5.000000E-02", " A       =   1.000000E-03",
    " kG2     =    5000.000000", " kG1     =    1000.000000", " mu      =      12.500000",
    " ex      =       1.250000", " kp      =     300.000000", " kVB     =     250.000000",
};

TEST(WriteParTable, PadsEveryNameToTheLongest) {
  const ParamSet ps = PentodeSet();
  std::ostringstream os;
  WriteParTable(os, 9, ps.P, ps.name);
  EXPECT_EQ(os.str(), Join(kPentodeLines));
}

TEST(WriteParTable, PadsToTheLongestOfTheSlotsWritten) {
  ParamSet ps;
  ParamIdent(1, ps);  // kVB, kG1, kp, ex, mu
  ps.P[1] = 300.0f;
  ps.P[2] = 0.5f;
  ps.P[3] = 2.0f;
  std::ostringstream os;
  WriteParTable(os, 3, ps.P, ps.name);
  EXPECT_EQ(os.str(), " kVB =     300.000000\n kG1 =   5.000000E-01\n kp  =       2.000000\n");
  std::ostringstream two;
  ps.name[1] = "k";
  WriteParTable(two, 1, ps.P, ps.name);
  EXPECT_EQ(two.str(), " k =     300.000000\n");
}

TEST(WriteParTable, NothingForNoSlots) {
  const ParamSet ps = PentodeSet();
  std::ostringstream os;
  WriteParTable(os, 0, ps.P, ps.name);
  EXPECT_EQ(os.str(), "");
}

TEST(WriteParTable, RoundTripFormOnlyAddsDigitsWhereNeeded) {
  ParamSet ps;
  ParamIdent(1, ps);
  ps.P[1] = 300.0f;         // 7 digits suffice
  ps.P[2] = 1.0000001f;     // 1 + 2^-23: 1.000000 would read back as 1
  std::ostringstream os;
  WriteParTable(os, 2, ps.P, ps.name, ParValueForm::kRoundTrip);
  EXPECT_EQ(os.str(), " kVB =     300.000000\n kG1 =      1.0000001\n");
}

TEST(ListFloatRoundTrip, FieldsWorkedOutByHand) {
  EXPECT_EQ(ListFloatRoundTrip(1.5f), "       1.500000");
  EXPECT_EQ(ListFloatRoundTrip(0.05f), "   5.000000E-02");
  EXPECT_EQ(ListFloatRoundTrip(0.0f), "   0.000000E+00");
  EXPECT_EQ(ListFloatRoundTrip(1.0000001f), "      1.0000001");
  // 0.001 + one ulp = 0.00100000016391277...: 8 digits.
  EXPECT_EQ(ListFloatRoundTrip(0.0010000001639127731f), "  1.0000002E-03");
  // Floats that need all 9 digits (found by search in double precision): 1.0308705386714856e-13 and
  // -1.1663842514053613e-07; the negative one fills the 15 columns.
  EXPECT_EQ(ListFloatRoundTrip(1.0308705386714856e-13f), " 1.03087054E-13");
  EXPECT_EQ(ListFloatRoundTrip(-1.1663842514053613e-07f), "-1.16638425E-07");
}

TEST(ListFloatRoundTrip, EveryFloatReadsBackExactly) {
  uint32_t state = 12345u;
  int longer = 0;
  for (int i = 0; i < 40000; ++i) {
    state = state * 1664525u + 1013904223u;
    float x;
    std::memcpy(&x, &state, sizeof x);
    if (!std::isfinite(x)) continue;
    const std::string field = ListFloatRoundTrip(x);
    ASSERT_EQ(field.size(), 15u) << field;
    ASSERT_EQ(std::strtof(field.c_str(), nullptr), x) << field;
    const std::string plain = ListFloat(x);
    if (std::strtof(plain.c_str(), nullptr) == x) {
      ASSERT_EQ(field, plain);
    } else {
      ++longer;
    }
  }
  EXPECT_GT(longer, 0);  // the plain 7-digit field does lose values
}

TEST(WriteParFiles, TubeXLeavesIdenticalModelAndTriodeFiles) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  const ParamSet ps = PentodeSet();
  std::ostringstream console;
  WriteParFiles('X', ps, console);
  EXPECT_EQ(ReadFile("Model.par"), Join(kPentodeLines));
  EXPECT_EQ(ReadFile("Triode.par"), ReadFile("Model.par"));
  EXPECT_FALSE(std::filesystem::exists("Triode_g3.par"));
  std::vector<std::string> expected = {" "};
  expected.insert(expected.end(), kPentodeLines.begin(), kPentodeLines.end());
  expected.push_back(" ");
  EXPECT_EQ(console.str(), Join(expected));
}

TEST(WriteParFiles, StartValuesDoNotReplaceAnEarlierResult) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", " mu =      20.000000\n");
  WriteFile("Triode_g3.par", " mu =      30.000000\n");
  const ParamSet ps = PentodeSet();
  std::ostringstream console;
  WriteParFiles('X', ps, console, ParMoment::kStart);
  WriteParFiles('Y', ps, console, ParMoment::kStart);
  EXPECT_EQ(ReadFile("Triode.par"), " mu =      20.000000\n");
  EXPECT_EQ(ReadFile("Triode_g3.par"), " mu =      30.000000\n");
  EXPECT_EQ(ReadFile("Model.par"), Join(kPentodeLines));
  WriteParFiles('X', ps, console, ParMoment::kFinal);
  EXPECT_EQ(ReadFile("Triode.par"), Join(kPentodeLines));
}

TEST(WriteParFiles, StartValuesGoToAMissingHandOverFile) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  const ParamSet ps = PentodeSet();
  std::ostringstream console;
  WriteParFiles('X', ps, console, ParMoment::kStart);
  EXPECT_EQ(ReadFile("Triode.par"), Join(kPentodeLines));
}

TEST(WriteParFiles, TubeTLeavesTriodeFileUntouched) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", " mu =      20.000000\n");
  WriteFile("Model.par", "old contents that are replaced\n");
  const ParamSet ps = PentodeSet();
  std::ostringstream console;
  WriteParFiles('T', ps, console);
  EXPECT_EQ(ReadFile("Triode.par"), " mu =      20.000000\n");
  EXPECT_EQ(ReadFile("Model.par"), Join(kPentodeLines));
}

TEST(WriteParFiles, TubeYWritesTheG3TriodeFile) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  ParamSet ps = PentodeSet();
  ps.NFit = 3;
  std::ostringstream console;
  WriteParFiles('Y', ps, console);
  EXPECT_EQ(ReadFile("Triode_g3.par"), Join({kPentodeLines[0], kPentodeLines[1], kPentodeLines[2]}));
  EXPECT_FALSE(std::filesystem::exists("Triode.par"));
  // No temporary file is left beside the results.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

TEST(WriteParFiles, FileThatCannotBeWrittenStopsAndKeepsTheOldOne) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  std::filesystem::create_directory("Model.par");  // a directory cannot be replaced by the file
  const ParamSet ps = PentodeSet();
  std::ostringstream console;
  const auto stop = StopOf([&] { WriteParFiles('T', ps, console); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->lines(), std::vector<std::string>{" Cannot write file Model.par."});
  EXPECT_TRUE(std::filesystem::is_directory("Model.par"));
}

TEST(WriteParFiles, ValuesReadBackToTheSameFloats) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  ParamSet ps;
  ParamIdent(12, ps);
  const float v[] = {1.0000001f, 0.0010000001639127731f, 1.0308705386714856e-13f, 123.456789f,
                     9876543.0f, 3.14159274f, 2.71828175f, 1.0e-30f, 65504.0f};
  for (int i = 1; i <= 9; ++i) ps.P[i] = v[i - 1];
  std::ostringstream console;
  WriteParFiles('T', ps, console);
  const ParFile file = OpenParFile("Model.par");
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(ReadParValue(file, ps.name[i]), v[i - 1]) << ps.name[i];
}

ParFile Parse(const std::vector<std::string>& lines) {
  ParFile f;
  f.name = "test.par";
  for (const std::string& l : lines) f.records.push_back(l);
  return f;
}

TEST(ReadParValue, NameMustEndAtABlankOrEquals) {
  const ParFile primed_first = Parse({" kG1' =       4.000000", " kG1  =    1000.000000"});
  EXPECT_EQ(ReadParValue(primed_first, "kG1"), 1000.0f);
  EXPECT_EQ(ReadParValue(primed_first, "kG1'"), 4.0f);
  const ParFile only_primed = Parse({" kG1' =       4.000000"});
  EXPECT_EQ(ReadParValue(only_primed, "kG1"), -1.0f);
  const ParFile no_blank = Parse({"mu=12.5", "mu_b = 3", "mu3 = 7"});
  EXPECT_EQ(ReadParValue(no_blank, "mu"), 12.5f);
  EXPECT_EQ(ReadParValue(no_blank, "mu_b"), 3.0f);
  EXPECT_EQ(ReadParValue(no_blank, "mu3"), 7.0f);
  // The name table's 20-character padding is ignored.
  EXPECT_EQ(ReadParValue(no_blank, "mu                  "), 12.5f);
}

TEST(ReadParValue, OnlyTheFirstOccurrenceInALineCounts) {
  // "kp'" occurs first in the line, so the later "kp" does not make it a kp line.
  const ParFile f = Parse({" kp' = 5 kp = 6", " kp = 7"});
  EXPECT_EQ(ReadParValue(f, "kp"), 7.0f);
}

TEST(ReadParValue, CommentLinesAreSkipped) {
  const ParFile f = Parse({"# mu = 99", "* mu = 98", " mu =      20.000000"});
  EXPECT_EQ(ReadParValue(f, "mu"), 20.0f);
  const ParFile only_comments = Parse({"#mu = 99", "*mu = 98"});
  EXPECT_EQ(ReadParValue(only_comments, "mu"), -1.0f);
}

TEST(ReadParValue, FirstOfTwoOccurrencesWins) {
  const ParFile f = Parse({" ex =       1.300000", " ex =       1.500000"});
  EXPECT_EQ(ReadParValue(f, "ex"), 1.3f);
}

TEST(ReadParValue, LineWithoutEqualsDoesNotGiveAValue) {
  const ParFile f = Parse({"Fit of mu and kp", " mu = 4"});
  EXPECT_EQ(ReadParValue(f, "mu"), 4.0f);
}

TEST(ReadParValue, FreeFormatNumbers) {
  const ParFile f = Parse({"a1 = 1.5D+02", "a2 = -2.5e-3 rest", "a3 = .5", "a4 = 7", "a5 = 1.5+02", "a6 = 3.,4",
                           "a7 =\t2/", "a8 = 1e-50"});
  EXPECT_EQ(ReadParValue(f, "a1"), 150.0f);
  EXPECT_EQ(ReadParValue(f, "a2"), -2.5e-3f);
  EXPECT_EQ(ReadParValue(f, "a3"), 0.5f);
  EXPECT_EQ(ReadParValue(f, "a4"), 7.0f);
  EXPECT_EQ(ReadParValue(f, "a5"), 150.0f);
  EXPECT_EQ(ReadParValue(f, "a6"), 3.0f);
  EXPECT_EQ(ReadParValue(f, "a7"), 2.0f);
  EXPECT_EQ(ReadParValue(f, "a8"), 0.0f);
}

TEST(ReadParValue, RecordsAreCutAt80Characters) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  // The value 12345 begins at column 78: only "123" lies within the first 80 characters.
  WriteFile("cut.par", std::string(72, ' ') + "mu = 12345\n");
  EXPECT_EQ(ReadParValue(OpenParFile("cut.par"), "mu"), 123.0f);
}

TEST(ReadParValue, ValueThatIsNotANumberStopsNamingFileAndLine) {
  struct Case {
    const char* line;
    const char* message;
  };
  const Case cases[] = {
      {" mu = abc", " Error reading File test.par line 2: the value of mu is \"abc\", not a number."},
      {" mu = NaN", " Error reading File test.par line 2: the value of mu is \"NaN\", not a number."},
      {" mu = Infinity", " Error reading File test.par line 2: the value of mu is \"Infinity\", not a number."},
      {" mu = 1e50", " Error reading File test.par line 2: the value of mu is \"1e50\", not a number."},
      {" mu =", " Error reading File test.par line 2: the value of mu is nothing, not a number."},
      {" mu = 0x10", " Error reading File test.par line 2: the value of mu is \"0x10\", not a number."},
      {" mu = 2*3", " Error reading File test.par line 2: the value of mu is \"2*3\", not a number."},
  };
  for (const Case& c : cases) {
    const ParFile f = Parse({"# a comment", c.line});
    const auto stop = StopOf([&] { ReadParValue(f, "mu"); });
    ASSERT_TRUE(stop.has_value()) << c.line;
    EXPECT_EQ(stop->kind(), Stop::Kind::kPlain);
    EXPECT_EQ(stop->lines(), (std::vector<std::string>{c.message, " Execution halts."})) << c.line;
  }
}

TEST(OpenParFile, MissingFileStopsWithTheFullName) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  const auto stop = StopOf([] { OpenParFile("Triode.par"); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->kind(), Stop::Kind::kPlain);
  EXPECT_EQ(stop->FinalLine(), "Stop - Program terminated.");
  ASSERT_EQ(stop->lines().size(), 2u);
  EXPECT_EQ(stop->lines()[0], " Error opening File Triode.par" + std::string(502, ' '));
  EXPECT_EQ(stop->lines()[0].size(), 1u + 19u + 512u);
  EXPECT_EQ(stop->lines()[1], " Execution halts.");
  // A directory of that name is no parameter file either.
  std::filesystem::create_directory("Triode.par");
  EXPECT_TRUE(StopOf([] { OpenParFile("Triode.par"); }).has_value());
}

// Notepad starts a file with a byte-order mark; the comment line after it is still a comment.
TEST(OpenParFile, ByteOrderMarkIsSkipped) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", "\xEF\xBB\xBF# mu = 99\n mu = 20\n");
  const ParFile f = OpenParFile("Triode.par");
  EXPECT_EQ(f.records.front(), "# mu = 99");
  EXPECT_EQ(ReadParValue(f, "mu"), 20.0f);
}

TEST(ReadTriodePar, ReadsTheFiveValuesAndReportsMissingOnes) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", " kVB =     300.000000\n kG1 =    1060.000000\n kp  =     600.000000\n"
                          " ex  =       1.400000\n mu  =     100.000000\n");
  const TriodeParValues t = ReadTriodePar("Triode.par");
  EXPECT_EQ(t.ex, 1.4f);
  EXPECT_EQ(t.mu, 100.0f);
  EXPECT_EQ(t.kG1, 1060.0f);
  EXPECT_EQ(t.kp, 600.0f);
  EXPECT_EQ(t.kVB, 300.0f);
  EXPECT_TRUE(t.missing.empty());
  WriteFile("Half.par", " mu = 20\n kp = 300\n");
  const TriodeParValues h = ReadTriodePar("Half.par");
  EXPECT_EQ(h.ex, -1.0f);
  EXPECT_EQ(h.kG1, -1.0f);
  EXPECT_EQ(h.kVB, -1.0f);
  EXPECT_EQ(h.missing, (std::vector<std::string>{"ex", "kG1", "kVB"}));
}

TEST(ReadModelPar, StoresTheNineValuesAtTheModelsSlots) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  ParamSet src = PentodeSet();
  std::ostringstream console;
  WriteParFiles('P', src, console);
  ParamSet ps;
  ParamIdent(25, ps);
  const std::vector<std::string> missing = ReadModelPar("Model.par", ps.P, ps.slot);
  EXPECT_TRUE(missing.empty());
  EXPECT_EQ(ps.P[ps.slot.alpha_s], 1.5f);
  EXPECT_EQ(ps.P[ps.slot.beta], 0.05f);
  EXPECT_EQ(ps.P[ps.slot.A], 0.001f);
  EXPECT_EQ(ps.P[ps.slot.kG2], 5000.0f);
  EXPECT_EQ(ps.P[ps.slot.kG1], 1000.0f);
  EXPECT_EQ(ps.P[ps.slot.mu], 12.5f);
  EXPECT_EQ(ps.P[ps.slot.ex], 1.25f);
  EXPECT_EQ(ps.P[ps.slot.kp], 300.0f);
  EXPECT_EQ(ps.P[ps.slot.kVB], 250.0f);
  WriteFile("Koren.par", " mu = 10\n ex = 1.3\n kG1 = 900\n kp = 200\n kVB = 100\n kG2 = 4000\n");
  const std::vector<std::string> lacking = ReadModelPar("Koren.par", ps.P, ps.slot);
  EXPECT_EQ(lacking, (std::vector<std::string>{"alpha_s", "beta", "A"}));
  EXPECT_EQ(ps.P[ps.slot.alpha_s], -1.0f);
  EXPECT_EQ(ps.P[ps.slot.kG2], 4000.0f);
}

}  // namespace
}  // namespace tubefit
