// Whole-text tests of the subcircuit files. Every expected line is written out by hand from the line
// layouts and the edit-descriptor rules; the renderings of the fitted values are worked out below next to
// the parameter values, which are chosen away from rounding ties.
#include "spice/spice.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "spice_test_util.h"
#include "test_support.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {
namespace {

using spice_test::MakeParams;
using spice_test::TestParams;

const char kStars[] = "****************************************************";
const char kDate[] = "23-Jan-2016";

// The fitted values of every golden test, with their renderings:
//   mu 31.4159       F5.1 " 31.4"   F6.2 " 31.42"
//   ex 1.37219       F5.3 "1.372"
//   kG1 1234.567     F6.1 "1234.6"
//   kp 345.678       F6.1 " 345.7"
//   kVB 456.789      F6.0 "  457."  F7.1 "  456.8"
//   kG2 4567.891     F7.1 " 4567.9"
//   beta 0.0876543   F6.2 "  0.09"  F6.3 " 0.088"
//   alpha_s 3.21987  F6.2 "  3.22"
//   k 2345.678       F7.1 " 2345.7"
//   eps -0.345678    F6.1 "  -0.3"
//   Sc 0.00123456    E7.2 ".12E-02"
//   alpha' 0.0456789 F6.3 " 0.046"
//   w 123.456        F7.0 "   123."
//   nu 2.34567       F6.2 "  2.35"
//   lambda 12.3456   F8.1 "    12.3"
//   mu_b 12.3456     F5.1 " 12.3"
//   ex_b 1.65432     F5.3 "1.654"
//   svar 0.234567    F6.3 " 0.235"
//   mu' 7.65432      F5.1 "  7.7"
//   ex' 1.23456      F5.3 "1.235"
//   kG1' 234.567     F6.0 "  235."  F6.1 " 234.6"
//   kp' 56.7891      F7.1 "   56.8"
//   kVB' 678.912     F7.1 "  678.9"
//   mu3 5.43219      E6.1 ".5E+01"
//   V0 3.45678       F6.1 "   3.5"
// Combined coefficients (worked in double precision; none is near a rounding tie):
//   Ookg1mOokG2 = 1/1234.567 - 1/4567.891 = 5.91081e-4   E7.2 ".59E-03"  E8.3 ".591E-03"
//   Aokg1 = 0.000234567/1234.567 = 1.89999e-7            E7.2 ".19E-06"  E8.2 " .19E-06"
//   al = 1 - (4.21987/4567.891)*1234.567 = -0.140507      E8.2 "-.14E+00"
//   alkg1palskg2 = al/1234.567 + 3.21987/4567.891 = 5.91081e-4  E7.2 ".59E-03"  E8.3 ".591E-03"
TestParams Golden(int32_t iModel) {
  return MakeParams(iModel, {{"mu", 31.4159f},      {"ex", 1.37219f},     {"kG1", 1234.567f},
                             {"kp", 345.678f},      {"kVB", 456.789f},    {"kG2", 4567.891f},
                             {"A", 0.000234567f},   {"alpha_s", 3.21987f}, {"beta", 0.0876543f},
                             {"k", 2345.678f},      {"eps", -0.345678f},  {"Sc", 0.00123456f},
                             {"alpha'", 0.0456789f}, {"w", 123.456f},     {"nu", 2.34567f},
                             {"lambda", 12.3456f},  {"mu_b", 12.3456f},   {"ex_b", 1.65432f},
                             {"svar", 0.234567f},   {"mu'", 7.65432f},    {"ex'", 1.23456f},
                             {"kG1'", 234.567f},    {"kp'", 56.7891f},    {"kVB'", 678.912f},
                             {"mu3", 5.43219f},     {"V0", 3.45678f}});
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Compares two texts line by line and reports the first line that differs.
::testing::AssertionResult SameText(const std::string& actual, const std::vector<std::string>& expected) {
  if (!actual.empty() && actual.back() != '\n') return ::testing::AssertionFailure() << "text does not end in a line end";
  const std::vector<std::string> lines = SplitLines(actual);
  for (size_t i = 0; i < lines.size() || i < expected.size(); ++i) {
    const std::string a = i < lines.size() ? lines[i] : "<no line>";
    const std::string e = i < expected.size() ? expected[i] : "<no line>";
    if (a != e) {
      return ::testing::AssertionFailure() << "line " << i + 1 << " differs\n  actual:   [" << a
                                           << "]\n  expected: [" << e << "]";
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> Header(const std::string& name, const std::string& pins) {
  return {kStars, ".SUBCKT " + name + pins, "*      Tubefit V3.000", std::string("* Model created: ") + kDate, "*"};
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Lines 3 to 10 of the common body shape, after the instance part.
std::vector<std::string> Middle(const std::string& model_subckt_line) {
  return {".ENDS",
          " ",
          kStars,
          model_subckt_line,
          "*",
          "* NOTE: LOG(x) is base e LOG or natural logarithm.",
          "* For some Spice versions, e.g. MicroCap, this has to be changed to LN(x).",
          "*"};
}

// The three comment lines that open an ngspice-form file: name, pin order, and the fit (here only the date).
std::vector<std::string> NgspiceOpening(const std::string& name, const std::string& pins) {
  return {"* " + name + ": tube model for ngspice, written by Tubefit V3.000", "* Pins: " + pins,
          std::string("* Fit: ") + kDate};
}

std::string GoldenFile(SpiceWriter writer, int32_t iModel, SpiceDialect dialect = SpiceDialect::kLtspice) {
  const TestParams t = Golden(iModel);
  return SpiceFileText(writer, "ECC83", t.P, t.s, iModel, dialect, kDate);
}

// --- diode and triode ---

TEST(SpiceDiode, WholeFile) {
  const std::vector<std::string> expected = Concat(
      Concat(Header("ECC83", " 1 2; A C;"),
             {"X1 1 2 DiodeK  EX=1.372 k = 2345.7 eps=  -0.3", "+ CCP=0.0P  ;"}),
      Concat(Middle(".SUBCKT DiodeK 1 2; A C"),
             {"G1   1 2  VALUE = {0.5/k*(PWR(V(1,2)+eps,EX)+PWRS(V(1,2)+eps,EX))}",
              "C3   1 2  {CCP}   ; CATHODE-PLATE\tA  - C", ".ENDS DiodeK"}));
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kDiode, 0), expected));
}

const std::vector<std::string>& TriodeModelLines() {
  static const std::vector<std::string> lines = {
      "E1 7 0 VALUE=",
      "+{V(1,3)/KP*LOG(1+EXP(KP*(1/MU+V(2,3)/SQRT(KVB+V(1,3)*V(1,3)))))}",
      "RE1 7 0 1G",
      "G1 1 3 VALUE={0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG1}",
      "RCP 1 3 1G    ; TO AVOID FLOATING NODES IN MU-FOLLOWER",
      "C1 2 3 {CCG}  ; CATHODE-GRID",
      "C2 2 1 {CGP}  ; GRID-PLATE",
      "C3 1 3 {CCP}  ; CATHODE-PLATE",
      "D3 5 3 DX     ; FOR GRID CURRENT",
      "R1 2 5 {RGI}  ; FOR GRID CURRENT",
      ".MODEL DX D(IS=1N RS=1 CJO=10PF TT=1N)",
      ".ENDS TriodeK",
  };
  return lines;
}

TEST(SpiceTriode, WholeFile) {
  const std::vector<std::string> expected = Concat(
      Concat(Header("ECC83", " 1 2 3; A G C;"),
             {"X1 1 2 3 TriodeK MU= 31.42 EX=1.372 KG1=1234.6 KP= 345.7 KVB=  457. RGI=2000",
              "+ CCG=0.0P  CGP=0.0P CCP=0.0P  ;"}),
      Concat(Middle(".SUBCKT TriodeK 1 2 3; A G C"), TriodeModelLines()));
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kTriode, 1), expected));
}

TEST(SpiceTriode, NgspiceFormDeclaresParametersAndAvoidsPwr) {
  std::vector<std::string> model = TriodeModelLines();
  model[3] = "G1 1 3 VALUE={0.5*(pow(abs(V(7)),EX)+sgn(V(7))*pow(abs(V(7)),EX))/KG1}";
  const std::vector<std::string> expected = Concat(
      Concat(Concat(NgspiceOpening("ECC83", "1 = A (anode), 2 = G (grid), 3 = C (cathode)"), Header("ECC83", " 1 2 3; A G C;")),
             {"X1 1 2 3 TriodeK MU=31.4159 EX=1.37219 KG1=1234.567 KP=345.678 KVB=456.789 RGI=2000",
              "+ CCG=0.0P  CGP=0.0P CCP=0.0P  ;"}),
      Concat(Middle(".SUBCKT TriodeK 1 2 3 PARAMS: MU=31.4159 EX=1.37219 KG1=1234.567 KP=345.678 KVB=456.789 "
                    "RGI=2000 CCG=0.0P CGP=0.0P CCP=0.0P; A G C"),
             model));
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kTriode, 1, SpiceDialect::kNgspice), expected));
  // With the fit known: the model name it was given, tube, model and R2 (every digit) in the opening lines.
  const TestParams t = Golden(1);
  const std::vector<std::string> named = SplitLines(SpiceFileText(
      SpiceWriter::kTriode, "data/ecc83 table", t.P, t.s, 1, SpiceDialect::kNgspice, " 9-Dec-2026",
      SpicePrecision::kFull, SpiceOrigin{"ECC83_JJ", "triode", "Koren", 1.6067262e-06f}));
  ASSERT_GT(named.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(named.begin(), named.begin() + 5),
            (std::vector<std::string>{"* ECC83_JJ: tube model for ngspice, written by Tubefit V3.000",
                                      "* Pins: 1 = A (anode), 2 = G (grid), 3 = C (cathode)",
                                      "* Fit: triode, Koren model, R2 = 1.6067262E-06 A^2, 9-Dec-2026", kStars,
                                      ".SUBCKT ECC83_JJ 1 2 3; A G C;"}));
  // Without a name the file's own, made a SPICE name: the blank would end it.
  EXPECT_EQ(SplitLines(SpiceFileText(SpiceWriter::kTriode, "data/ecc83 table (2)", t.P, t.s, 1,
                                     SpiceDialect::kLtspice, kDate))[1],
            ".SUBCKT ecc83_table__2_ 1 2 3; A G C;");
}

// --- pentodes and beam tetrodes ---

TEST(SpicePenthode, KorenPentodeWholeFile) {
  const std::vector<std::string> expected = Concat(
      Concat(Header("ECC83", " 1 2 3 4 ; A G2 G1 C;"),
             {"X1 1 2 3 4 PentodeK  MU= 31.4 EX=1.372 kG1=1234.6 KP= 345.7 kVB =  456.8 kG2= 4567.9 RGI=2000",
              "+ CCG=0.0P  CPG1 = 0.0p CGP=0.0P CCP=0.0P  ;"}),
      Concat(Middle(".SUBCKT PentodeK 1 2 3 4 ; A G2 G1 C"),
             {
                 "RE1  7 0  1MEG    ; DUMMY SO NODE 7 HAS 2 CONNECTIONS",
                 "E1   7 0  VALUE={V(2,4)/KP*LOG(1+EXP((1/MU+V(3,4)/V(2,4))*KP))}\t",
                 "G1   1 4  VALUE={0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG1*ATAN(V(1,4)/KVB)}",
                 " G2   2 4  VALUE={0.5*(PWR(V(2,4)/MU+V(3,4),EX)+PWRS(V(2,4)/MU+V(3,4),EX))/KG2}",
                 "RCP  1 4  1G      ; FOR CONVERGENCE\tA  - C",
                 "C1   3 4  {CCG}   ; CATHODE-GRID 1\tC  - G1",
                 "C2   1 3  {CPG1}  ; GRID 1-PLATE\tG1 - A",
                 "C3   1 4  {CCP}   ; CATHODE-PLATE\tA  - C",
                 "R1   3 5  {RGI}   ; FOR GRID CURRENT\tG1 - 5",
                 "D3   5 4  DX      ; FOR GRID CURRENT\t5  - C",
                 ".MODEL DX D(IS=1N RS=1 CJO=10PF TT=1N)",
                 ".ENDS PENTODE",
             }));
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 2), expected));
}

const char kE1Tail[] = "+{V(2,4)/KP*LOG(1+EXP(KP*(1/MU+V(3,4)/SQRT(KVB+V(2,4)*V(2,4)))))}";
const char kCapsA[] = "+ CCG1=0.0P  CCG2 = 0.0p CPG1 = 0.0p CG1G2 = 0.0p CCP=0.0P  ;";
const char kCapsB[] = "+ CCG1=0.0P  CCG2 = 0.0p CPG1 = 0.0p  CG1G2 = 0.0p CCP=0.0P  ;";
const char kE2Nolt[] = "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,4) - alkg1palskg2/(1 + be*V(1,4))}";
const char kE2NoltI[] = "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,4) - alkg1palskg2/(1+be*V(1,4)/V(2,4))}";
const char kE2NoltE[] =
    "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,4) - alkg1palskg2*Exp(-be*V(1,4)*SQRT(be*V(1,4)))}";
const char kE3[] = "E3   9 0 VALUE = {Sc/kG2*V(1,4)*(1+tanh(-ap*(V(1,4)-V(2,4)/lam+w+nu*V(3,4))))}";
const char kG1Pentode[] = "G1   1 4  VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))*V(8)}";
const char kG1Tetrode[] = "G1   1 4 VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))*(V(8)-V(9))}";
const char kG2Nolt[] = "G2   2 4 VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG2 * (1+ als/(1+be*V(1,4)))";
const char kG2NoltI[] = "G2   2 4 VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG2 * (1+ als/(1+be*V(1,4)/V(2,4)))";
const char kG2NoltE[] =
    "G2   2 4 VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG2 *(1+als*Exp(-be*V(1,4) * SQRT(be*V(1,4))))";
// The beam tetrodes' screen collects the emission current that their G1 takes off the anode.
const char kEmission[] = " + 0.5*(PWR(V(7),EX)+PWRS(V(7),EX))*V(9)";

std::vector<std::string> NoltTail(const std::string& model) {
  return {"RCP  1 4  1G      ; FOR CONVERGENCE\tA  - C",
          "C1   3 4  {CCG1}   ; CATHODE-GRID 1\tC  - G1",
          "C4   2 4  {CCG2}   ; CATHODE-GRID 2\tC  - G2",
          "C5   2 3  {CG1G2}   ; GRID 1 -GRID 2\tG1  - G2",
          "C2   1 3  {CPG1}  ; GRID 1-PLATE\tG1 - A",
          "C3   1 4  {CCP}   ; CATHODE-PLATE\tA  - C",
          "R1   3 5  {RGI}   ; FOR GRID CURRENT\tG1 - 5",
          "D3   5 4  DX      ; FOR GRID CURRENT\t5  - C",
          ".MODEL DX D(IS=1N RS=1 CJO=10PF TT=1N)",
          ".ENDS " + model};
}

std::vector<std::string> NoltFile(const std::string& model, const std::vector<std::string>& instance,
                                  const std::vector<std::string>& elements) {
  return Concat(Concat(Header("ECC83", " 1 2 3 4 ; A G2 G1 C;"), instance),
                Concat(Concat(Middle(".SUBCKT " + model + " 1 2 3 4; A G2 G1 C"),
                              Concat({"RE1  7 0  1MEG    ; DUMMY SO NODE 7 HAS 2 CONNECTIONS"}, elements)),
                       NoltTail(model)));
}

// Line 1 of the pentode rows (MU in F5.1, " kVB = ") and of the tetrode rows (MU in F6.2, " kVB =").
std::string PentodeX1(const std::string& model) {
  return "X1 1 2 3 4 " + model + "  MU= 31.4 EX=1.372 kG1=1234.6 KP= 345.7 kVB =   456.8 kG2= 4567.9";
}
std::string TetrodeX1(const std::string& model) {
  return "X1 1 2 3 4 " + model + "  MU= 31.42 EX=1.372 kG1=1234.6 KP= 345.7 kVB =  456.8 kG2= 4567.9";
}
const char kCoefPentode2[] = "+ Ookg1mOokG2=.59E-03 Aokg1=.19E-06 alkg1palskg2=.59E-03 be=  0.09 als=  3.22 RGI=2000";
const char kCoefPentode3[] = "+ Ookg1mOokG2=.59E-03 Aokg1=.19E-06 alkg1palskg2=.59E-03 be= 0.088 als=  3.22 RGI=2000";
const char kCoefTetrode[] =
    "+ Ookg1mOokG2=.591E-03 Aokg1=.19E-06 alkg1palskg2=.591E-03 be= 0.088 als=  3.22 RGI=2000";
const char kTetrodeLine[] = "+Sc=.12E-02 ap= 0.046 w=   123. nu=  2.35 lam=    12.3";
const char kVarMuLine[] = "+ MUb= 12.3 EXb=1.654 svar= 0.235";
const char kE1Plain[] = "E1 7 0 VALUE=";
const char kE1VarMu[] = "E1   7 0  VALUE=";

std::vector<std::string> VarMuSections() {
  return {"E11 17 0  VALUE=", "+{V(2,4)/KP*LOG(1+EXP(KP*(1/MUb+V(3,4)/SQRT(KVB+V(2,4)*V(2,4)))))}",
          "E20  9 0  VALUE = {(1-svar)*0.5*(PWR(V(7),EX)+PWRS(V(7),EX))+ svar*0.5*(PWR(V(17),EXb)+PWRS(V(17),EXb))}"};
}

TEST(SpicePenthode, PenthodeNWholeFile) {
  const std::vector<std::string> expected =
      NoltFile("PenthodeN", {PentodeX1("PenthodeN"), kCoefPentode2, kCapsA},
               {kE1Plain, kE1Tail, kE2Nolt, kG1Pentode, std::string(kG2Nolt) + "}"});
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 12), expected));
}

TEST(SpicePenthode, PenthodeNiWholeFile) {
  const std::vector<std::string> expected =
      NoltFile("PenthodeNi", {PentodeX1("PenthodeNi"), kCoefPentode2, kCapsA},
               {kE1Plain, kE1Tail, kE2NoltI, kG1Pentode, std::string(kG2NoltI) + "}"});
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 32), expected));
}

TEST(SpicePenthode, PenthodeNEWholeFile) {
  const std::vector<std::string> expected =
      NoltFile("PenthodeNE", {PentodeX1("PenthodeNE"), kCoefPentode3, kCapsB},
               {kE1Plain, kE1Tail, kE2NoltE, kG1Pentode, std::string(kG2NoltE) + "}"});
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 22), expected));
}

TEST(SpicePenthode, BTetrodeNWholeFile) {
  const std::vector<std::string> expected =
      NoltFile("BTetrodeN", {TetrodeX1("BTetrodeN"), kTetrodeLine, kCoefTetrode, kCapsB},
               {kE1Plain, kE1Tail, kE2Nolt, kE3, kG1Tetrode, std::string(kG2Nolt) + kEmission + "}"});
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 13), expected));
}

TEST(SpicePenthode, BTetrodeNiWholeFile) {
  const std::vector<std::string> expected =
      NoltFile("BTetrodeNi", {TetrodeX1("BTetrodeNi"), kTetrodeLine, kCoefTetrode, kCapsB},
               {kE1Plain, kE1Tail, kE2NoltI, kE3, kG1Tetrode, std::string(kG2NoltI) + kEmission + "}"});
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 33), expected));
}

TEST(SpicePenthode, BTetrodeNEWholeFile) {
  const std::vector<std::string> expected =
      NoltFile("BTetrodeNE", {TetrodeX1("BTetrodeNE"), kTetrodeLine, kCoefTetrode, kCapsB},
               {kE1Plain, kE1Tail, kE2NoltE, kE3, kG1Tetrode, std::string(kG2NoltE) + kEmission + "}"});
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 23), expected));
}

TEST(SpicePenthode, PenthodeVNWholeFile) {
  const std::vector<std::string> expected = NoltFile(
      "PenthodeVN", {PentodeX1("PenthodeVN"), kVarMuLine, kCoefPentode2, kCapsA},
      Concat(Concat({kE1VarMu, kE1Tail}, VarMuSections()),
             {"E2   8 0  VALUE = {Ookg1mOokG2 + Aokg1*V(1,4) - alkg1palskg2/(1 + be*V(1,4))}",
              "G1   1 4  VALUE = {V(9)*V(8)}", "G2   2 4  VALUE = {V(9)/KG2 * (1+ als/(1+be*V(1,4)))}"}));
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 16), expected));
}

TEST(SpicePenthode, PenthodeVNEWholeFile) {
  const std::vector<std::string> expected = NoltFile(
      "PenthodeVNE", {PentodeX1("PenthodeVNE"), kVarMuLine, kCoefPentode3, kCapsB},
      Concat(Concat({kE1VarMu, kE1Tail}, VarMuSections()),
             {kE2NoltE, "G1   1 4  VALUE = {V(9)*V(8)}",
              "G2   2 4 VALUE = {V(9)/KG2 *(1+als*Exp(-be*V(1,4) * SQRT(be*V(1,4))))}"}));
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kPenthode, 26), expected));
}

TEST(SpicePenthode, CodeWithoutBodyGivesTheHeaderOnly) {
  const TestParams t = Golden(12);
  for (const int32_t code : {0, 1, 3, 6, 14, 15, 25, 42}) {
    EXPECT_TRUE(SameText(SpiceFileText(SpiceWriter::kPenthode, "ECC83", t.P, t.s, code, SpiceDialect::kLtspice, kDate),
                         Header("ECC83", " 1 2 3 4 ; A G2 G1 C;")))
        << "code " << code;
  }
  EXPECT_TRUE(SameText(SpiceFileText(SpiceWriter::kTriode, "ECC83", t.P, t.s, 12, SpiceDialect::kLtspice, kDate),
                       Header("ECC83", " 1 2 3; A G C;")));
  EXPECT_TRUE(SameText(SpiceFileText(SpiceWriter::kDiode, "ECC83", t.P, t.s, 1, SpiceDialect::kNgspice, kDate),
                       Concat(NgspiceOpening("ECC83", "1 = A (anode), 2 = C (cathode)"), Header("ECC83", " 1 2; A C;"))));
}

// --- hexode/heptode and g3 pentode ---

std::vector<std::string> FiveElectrodeTail(const std::string& model) {
  return {"RCP  1 5  1G      ; FOR CONVERGENCE\tA  - C",
          "C1   4 5  {CCG1}   ; CATHODE-GRID 1\tC  - G1",
          "C4   2 5  {CCG3}   ; CATHODE-GRID 3\tC  - G3",
          "C5   2 4  {CG1G3}   ; GRID 1 -GRID 3\tG1  - G3",
          "C2   1 4  {CPG1}  ; GRID 1-PLATE\tG1 - A",
          "C3   1 5  {CCP}   ; CATHODE-PLATE\tA  - C",
          "R1   4 15 {RGI}   ; FOR GRID CURRENT\tG1 - 5",
          "D3  15 5  DX      ; FOR GRID CURRENT\t5  - C",
          ".MODEL DX D(IS=1N RS=1 CJO=10PF TT=1N)",
          ".ENDS " + model};
}

TEST(SpiceHepthode, WholeFile) {
  const std::vector<std::string> expected = Concat(
      Concat(Header("ECC83", " 1 2 3 4 5; A G3 G2G4 G1 C;"),
             {"X1 1 2 3 4 5 HepthodeN MU= 31.4 MU3=.5E+01 EX=1.372 kG1=1234.6 KP= 345.7 kVB =   456.8 kG2= 4567.9",
              "+ MUp=  7.7 EXX=1.235 kG1p=  235. KPp=   56.8 kVBp =   678.9",
              "+ Ookg1mOokG2=.59E-03 Aokg1= .19E-06 al=-.14E+00 alkg1palskg2=.59E-03 be=  0.09 als=  3.22 RGI=2000",
              "+ CCG1=0.0P  CCG3 = 0.0p CPG1 = 0.0p CG1G3 = 0.0p CCP=0.0P  ;"}),
      Concat(Concat(Middle(".SUBCKT HepthodeN 1 2 3 4 5; A G3 G2G4 G1 C"),
                    {"RE1  7 0  1MEG    ; DUMMY SO NODE 7 HAS 2 CONNECTIONS",
                     "E1 7 0 VALUE=",
                     "+{V(3,5)/KP*LOG(1+EXP(KP*(1/MU+(V(2,5)/Mu3+V(4,5))/SQRT(KVB+V(3,5)*V(3,5)))))}",
                     "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,5) - alkg1palskg2/(1 + be*V(1,5))}",
                     "E3   9 0  VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))}",
                     "E4 10 0 VALUE=",
                     "+{V(3,5)/KPp*LOG(1+EXP(KPp*(1/MUp+V(2,5)/SQRT(KVBp+V(3,5)*V(3,5)))))}",
                     "E5   11 0  VALUE ={0.5*(PWR(V(10),EXX)+PWRS(V(10),EXX))/kg1p}",
                     "G1   1 5 VALUE = {V(8)*V(9)*V(11)}",
                     "G2   3 5 VALUE = {V(9)/kg1 *(1+Aokg1*kg1*V(1,5)- al/(1+be*V(1,5))) - V(8)*V(9)*V(11)}"}),
             FiveElectrodeTail("HepthodeN")));
  EXPECT_TRUE(SameText(GoldenFile(SpiceWriter::kHepthode, 14), expected));
}

TEST(SpicePenthodeg3, WholeFile) {
  const std::vector<std::string> expected = Concat(
      Concat(Header("ECC83", " 1 2 3 4 5; A G3 G2 G1 C;"),
             {"X1 1 2 3 4 5 Penthodeg3NE MU= 31.4 MU3=.5E+01 EX=1.372 kG1=1234.6 KP= 345.7 kVB =   456.8 kG2= 4567.9",
              "+ MUp=  7.7 EXX=1.235 kG1p= 234.6 V0=   3.5",
              "+ Ookg1mOokG2=.59E-03 Aokg1=.19E-06 al=-.14E+00 alkg1palskg2=.59E-03 be=  0.09 als=  3.22 RGI=2000",
              "+ CCG1=0.0P  CCG2 = 0.0p CCG3 = 0.0p CPG1 = 0.0p  CG1G2 = 0.0p CG1G3 = 0.0p CCP=0.0P  ;"}),
      Concat(Concat(Middle(".SUBCKT Penthodeg3NE 1 2 3 4 5; A G3 G2 G1 C"),
                    {"RE1  7 0  1MEG    ; DUMMY SO NODE 7 HAS 2 CONNECTIONS",
                     "E1 7 0 VALUE=",
                     "+{V(3,5)/KP*LOG(1+EXP(KP*(1/MU+(V(2,5)/Mu3+V(4,5))/SQRT(KVB+V(3,5)*V(3,5)))))}",
                     "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,5) - alkg1palskg2*Exp(-be*V(1,5)*SQRT(be*V(1,5)))}",
                     "E3   9 0  VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))}",
                     "E4 10 0 VALUE= {V0 + V(2,5) + V(1,5)/mup}",
                     "E5   11 0  VALUE ={0.5*(PWR(V(10),EXX)+PWRS(V(10),EXX))/kg1p}",
                     "G1   1 5 VALUE = {V(8)*V(9)*(1-Exp(-V(11)))}",
                     "G2   3 5 VALUE = {V(9)/kg1 *(1+Aokg1*kg1*V(1,5)- al*Exp(-be*V(1,5)*SQRT(be*V(1,5)))) - "
                     "V(8)*V(9)*(1-Exp(-V(11)))}"}),
             FiveElectrodeTail("Penthodeg3NE")));
  const std::string text = GoldenFile(SpiceWriter::kPenthodeg3, 25);
  EXPECT_TRUE(SameText(text, expected));
  // Header 5, instance 4, the shape's 8 lines and 18 model lines: the g3 body has one E4 line only.
  EXPECT_EQ(SplitLines(text).size(), 5u + 31u);
}

TEST(SpiceHepthode, OnlyItsOwnCodes) {
  const TestParams t = Golden(14);
  EXPECT_EQ(SpiceBodyText(SpiceWriter::kHepthode, t.P, t.s, 25, SpiceDialect::kLtspice), "");
  EXPECT_EQ(SpiceBodyText(SpiceWriter::kPenthodeg3, t.P, t.s, 14, SpiceDialect::kLtspice), "");
  EXPECT_EQ(SpiceBodyText(SpiceWriter::kPenthodeg3, t.P, t.s, 15, SpiceDialect::kLtspice), "");
}

// --- combined coefficients and overflowing fields ---

TEST(SpiceCoefficients, WorkedExample) {
  // 1/1000 - 1/4000 = 7.5e-4; 0.0001/1000 = 1e-7; al = 1 - (3/4000)*1000 = 0.25;
  // 0.25/1000 + 2/4000 = 7.5e-4.
  const TestParams t = MakeParams(12, {{"alpha_s", 2.0f}, {"beta", 0.05f}, {"A", 0.0001f}, {"kG2", 4000.0f},
                                       {"kG1", 1000.0f}, {"mu", 20.0f}, {"ex", 1.5f}, {"kp", 50.0f},
                                       {"kVB", 300.0f}});
  const SpiceCoefficients c = CombinedCoefficients(t.P, t.s);
  EXPECT_FLOAT_EQ(c.Ookg1mOokG2, 7.5e-4f);
  EXPECT_FLOAT_EQ(c.Aokg1, 1e-7f);
  EXPECT_FLOAT_EQ(c.al, 0.25f);
  EXPECT_FLOAT_EQ(c.alkg1palskg2, 7.5e-4f);
  const std::vector<std::string> lines =
      SplitLines(SpiceBodyText(SpiceWriter::kPenthode, t.P, t.s, 12, SpiceDialect::kLtspice));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "+ Ookg1mOokG2=.75E-03 Aokg1=.10E-06 alkg1palskg2=.75E-03 be=  0.05 als=  2.00 RGI=2000");
}

TEST(SpiceCoefficients, HepthodeShowsAl) {
  const TestParams t = MakeParams(14, {{"mu'", 8.0f}, {"ex'", 1.2f}, {"kG1'", 200.0f}, {"kp'", 40.0f},
                                       {"kVB'", 150.0f}, {"mu3", 5.0f}, {"alpha_s", 2.0f}, {"beta", 0.05f},
                                       {"A", 0.0001f}, {"kG2", 4000.0f}, {"kVB", 300.0f}, {"kp", 50.0f},
                                       {"kG1", 1000.0f}, {"mu", 20.0f}, {"ex", 1.5f}});
  const std::vector<std::string> lines =
      SplitLines(SpiceBodyText(SpiceWriter::kHepthode, t.P, t.s, 14, SpiceDialect::kLtspice));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "X1 1 2 3 4 5 HepthodeN MU= 20.0 MU3=.5E+01 EX=1.500 kG1=1000.0 KP=  50.0 kVB =   300.0 kG2= 4000.0");
  EXPECT_EQ(lines[2],
            "+ Ookg1mOokG2=.75E-03 Aokg1= .10E-06 al= .25E+00 alkg1palskg2=.75E-03 be=  0.05 als=  2.00 RGI=2000");
}

TEST(SpiceOverflow, NegativeCoefficientsWhenKg1AboveKg2) {
  // kG1 = 4000 > kG2 = 1000: 1/4000 - 1/1000 = -7.5e-4, al = 1 - (3/1000)*4000 = -11,
  // al/4000 + 2/1000 = -7.5e-4; negative values do not fit E7.2 (pentode) or E8.3 (tetrode), so they are
  // written in the shortest text of their 2 (3) digits instead of asterisks.
  TestParams t = Golden(12);
  t.P[t.s.kG1] = 4000.0f;
  t.P[t.s.kG2] = 1000.0f;
  t.P[t.s.A] = 0.0001f;
  t.P[t.s.alpha_s] = 2.0f;
  std::vector<std::string> lines =
      SplitLines(SpiceBodyText(SpiceWriter::kPenthode, t.P, t.s, 12, SpiceDialect::kLtspice));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "+ Ookg1mOokG2=-0.00075 Aokg1=.25E-07 alkg1palskg2=-0.00075 be=  0.09 als=  2.00 RGI=2000");

  TestParams b = Golden(13);
  b.P[b.s.kG1] = 4000.0f;
  b.P[b.s.kG2] = 1000.0f;
  b.P[b.s.A] = 0.0001f;
  b.P[b.s.alpha_s] = 2.0f;
  lines = SplitLines(SpiceBodyText(SpiceWriter::kPenthode, b.P, b.s, 13, SpiceDialect::kLtspice));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "+ Ookg1mOokG2=-0.00075 Aokg1=.25E-07 alkg1palskg2=-0.00075 be= 0.088 als=  2.00 RGI=2000");
}

TEST(SpiceOverflow, NegativeMu3AndLargeKvbAndMu) {
  TestParams h = Golden(14);
  h.P[h.s.mu3] = -5.0f;
  std::vector<std::string> lines =
      SplitLines(SpiceBodyText(SpiceWriter::kHepthode, h.P, h.s, 14, SpiceDialect::kLtspice));
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], "X1 1 2 3 4 5 HepthodeN MU= 31.4 MU3=-5 EX=1.372 kG1=1234.6 KP= 345.7 kVB =   456.8 kG2= 4567.9");

  TestParams t = Golden(1);
  t.P[t.s.kVB] = 100000.0f;
  t.P[t.s.mu] = 1000.0f;
  t.P[t.s.ex] = 10.0f;
  lines = SplitLines(SpiceBodyText(SpiceWriter::kTriode, t.P, t.s, 1, SpiceDialect::kLtspice));
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], "X1 1 2 3 TriodeK MU=1000 EX=10 KG1=1234.6 KP= 345.7 KVB=1E+05 RGI=2000");
  // 99999.4 still fits F6.0; the overflowing fields keep the value in their 5 (4) digits.
  t.P[t.s.kVB] = 99999.4f;
  lines = SplitLines(SpiceBodyText(SpiceWriter::kTriode, t.P, t.s, 1, SpiceDialect::kLtspice));
  EXPECT_EQ(lines[0], "X1 1 2 3 TriodeK MU=1000 EX=10 KG1=1234.6 KP= 345.7 KVB=99999. RGI=2000");
}

TEST(SpiceOverflow, WideTetrodeValues) {
  TestParams b = Golden(23);
  b.P[b.s.w] = 1000000.0f;
  const std::vector<std::string> lines =
      SplitLines(SpiceBodyText(SpiceWriter::kPenthode, b.P, b.s, 23, SpiceDialect::kLtspice));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "+Sc=.12E-02 ap= 0.046 w=1E+06 nu=  2.35 lam=    12.3");
}

// --- names, console lines and files ---

TEST(SpiceName, FirstEightyCharactersWithoutTrailingBlanks) {
  const std::string long_name = std::string(79, 'a') + "bcdef";
  EXPECT_EQ(SubcircuitName(long_name), std::string(79, 'a') + "b");
  EXPECT_EQ(SubcircuitName("ECC83     "), "ECC83");
  EXPECT_EQ(SubcircuitName(std::string(78, 'x') + "  yz"), std::string(78, 'x'));
  EXPECT_EQ(SubcircuitName("data/EL34"), "data/EL34");
  EXPECT_EQ(SubcircuitTitle("data/EL34"), "EL34");
  const TestParams t = Golden(1);
  const std::vector<std::string> lines = SplitLines(
      SpiceFileText(SpiceWriter::kTriode, "ECC83   ", t.P, t.s, 1, SpiceDialect::kLtspice, " 7-Mar-2016"));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[1], ".SUBCKT ECC83 1 2 3; A G C;");
  EXPECT_EQ(lines[3], "* Model created:  7-Mar-2016");
  // A folder in the name stays in the file name only: "/" is no part of a SPICE name.
  EXPECT_EQ(SplitLines(SpiceFileText(SpiceWriter::kTriode, "data/ECC83", t.P, t.s, 1, SpiceDialect::kLtspice,
                                     " 7-Mar-2016"))[1],
            ".SUBCKT ECC83 1 2 3; A G C;");
}

TEST(SpiceName, DateLineOfAOneDigitDay) {
  const TestParams t = Golden(0);
  const std::vector<std::string> lines = SplitLines(
      SpiceFileText(SpiceWriter::kDiode, "D", t.P, t.s, 0, SpiceDialect::kLtspice, DateStampFor(2016, 3, 7)));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], "* Model created:  7-Mar-2016");
}

TEST(SpiceConsole, TextsAndPins) {
  EXPECT_EQ(SpiceConsoleText(SpiceWriter::kDiode), "Spice subcircuit written to file ");
  EXPECT_EQ(SpiceConsoleText(SpiceWriter::kTriode), "Spice Triode subcircuit written to file ");
  EXPECT_EQ(SpiceConsoleText(SpiceWriter::kPenthode), "Spice Penthode subcircuit written to file ");
  EXPECT_EQ(SpiceConsoleText(SpiceWriter::kHepthode), "Spice subcircuit written to file ");
  EXPECT_EQ(SpiceConsoleText(SpiceWriter::kPenthodeg3), "Spice subcircuit written to file ");
  EXPECT_EQ(SpicePinText(SpiceWriter::kPenthode), " 1 2 3 4 ; A G2 G1 C;");
}

// Runs each test in a fresh temporary directory and returns to the old one afterwards.
class SpiceFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<testsupport::TempDir>("spice_test_");
    ASSERT_TRUE(dir_->ok());
  }
  void TearDown() override { dir_.reset(); }
  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
  }

  std::unique_ptr<testsupport::TempDir> dir_;
};

TEST_F(SpiceFiles, WritesFileAndConsoleLines) {
  const TestParams t = Golden(1);
  std::ostringstream console;
  SpiceTriode("ECC83  ", t.P, t.s, 1, SpiceDialect::kLtspice, console);
  EXPECT_EQ(console.str(),
            " Spice Triode subcircuit written to file ECC83.cir\n"
            " Please add capacitances yourself!\n");
  const std::string text = ReadAll("ECC83.cir");
  const std::vector<std::string> lines = SplitLines(text);
  ASSERT_EQ(lines.size(), 27u);  // header 5, instance 2, shape 8, model 12
  EXPECT_EQ(lines[3], "* Model created: " + DateStamp());
  // Apart from the date, the file is the text of the text layer.
  EXPECT_EQ(text, SpiceFileText(SpiceWriter::kTriode, "ECC83", t.P, t.s, 1, SpiceDialect::kLtspice, DateStamp()));
}

TEST_F(SpiceFiles, EveryWriterNamesItsFileOnTheConsole) {
  std::ostringstream console;
  const TestParams d = Golden(0);
  WriteSpiceFile(SpiceWriter::kDiode, "D1", d.P, d.s, 0, SpiceDialect::kLtspice, console);
  const TestParams p = Golden(12);
  WriteSpiceFile(SpiceWriter::kPenthode, "EF86", p.P, p.s, 12, SpiceDialect::kNgspice, console);
  const TestParams h = Golden(14);
  WriteSpiceFile(SpiceWriter::kHepthode, "ECH81", h.P, h.s, 14, SpiceDialect::kLtspice, console);
  const TestParams g = Golden(25);
  WriteSpiceFile(SpiceWriter::kPenthodeg3, "EL84", g.P, g.s, 25, SpiceDialect::kLtspice, console);
  EXPECT_EQ(console.str(),
            " Spice subcircuit written to file D1.cir\n"
            " Please add capacitances yourself!\n"
            " Spice Penthode subcircuit written to file EF86.cir\n"
            " Please add capacitances yourself!\n"
            " Spice subcircuit written to file ECH81.cir\n"
            " Please add capacitances yourself!\n"
            " Spice subcircuit written to file EL84.cir\n"
            " Please add capacitances yourself!\n");
  for (const char* file : {"D1.cir", "EF86.cir", "ECH81.cir", "EL84.cir"}) {
    std::vector<std::string> lines = SplitLines(ReadAll(file));
    ASSERT_GT(lines.size(), 8u) << file;
    if (std::string(file) == "EF86.cir") {  // the ngspice form: three comment lines first
      EXPECT_EQ(lines[1], "* Pins: 1 = A (anode), 2 = G2 (screen grid), 3 = G1 (control grid), 4 = C (cathode)");
      lines.erase(lines.begin(), lines.begin() + 3);
    }
    EXPECT_EQ(lines[0], kStars) << file;
    EXPECT_EQ(lines[2], "*      Tubefit V3.000") << file;
  }
}

TEST_F(SpiceFiles, LongerOldFileIsReplacedCompletely) {
  {
    std::ofstream old("EL34.cir");
    for (int i = 0; i < 200; ++i) old << "old line " << i << " that must disappear\n";
  }
  const TestParams t = Golden(12);
  std::ostringstream console;
  WriteSpiceFile(SpiceWriter::kPenthode, "EL34", t.P, t.s, 7, SpiceDialect::kLtspice, console);
  const std::string text = ReadAll("EL34.cir");
  EXPECT_EQ(text.find("old line"), std::string::npos);
  EXPECT_EQ(SplitLines(text).size(), 5u);
}

TEST_F(SpiceFiles, NameOfMoreThanEightyCharacters) {
  const std::string name = std::string(80, 'T') + "XYZ";
  const TestParams t = Golden(0);
  std::ostringstream console;
  WriteSpiceFile(SpiceWriter::kDiode, name, t.P, t.s, 0, SpiceDialect::kLtspice, console);
  const std::string file = std::string(80, 'T') + ".cir";
  EXPECT_EQ(console.str(), " Spice subcircuit written to file " + file + "\n Please add capacitances yourself!\n");
  const std::vector<std::string> lines = SplitLines(ReadAll(file));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], ".SUBCKT " + std::string(80, 'T') + " 1 2; A C;");
}

TEST_F(SpiceFiles, UnwritableFileStopsAfterTheConsoleLines) {
  const TestParams t = Golden(1);
  std::ostringstream console;
  try {
    SpiceTriode("no_such_dir/ECC83", t.P, t.s, 1, SpiceDialect::kLtspice, console);
    FAIL() << "no stop";
  } catch (const Stop& stop) {
    ASSERT_EQ(stop.lines().size(), 1u);
    EXPECT_NE(stop.lines()[0].find("no_such_dir/ECC83.cir"), std::string::npos) << stop.lines()[0];
  }
  EXPECT_EQ(console.str(),
            " Spice Triode subcircuit written to file no_such_dir/ECC83.cir\n"
            " Please add capacitances yourself!\n");
}

// --- the ngspice form ---

TEST(SpiceNgspice, PowersBecomeNativeFunctions) {
  EXPECT_EQ(NgspicePowers("G1 1 3 VALUE={0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG1}"),
            "G1 1 3 VALUE={0.5*(pow(abs(V(7)),EX)+sgn(V(7))*pow(abs(V(7)),EX))/KG1}");
  EXPECT_EQ(NgspicePowers("{0.5/k*(PWR(V(1,2)+eps,EX)+PWRS(V(1,2)+eps,EX))}"),
            "{0.5/k*(pow(abs(V(1,2)+eps),EX)+sgn(V(1,2)+eps)*pow(abs(V(1,2)+eps),EX))}");
  // An operator that binds tighter than the product gets a parenthesised one.
  EXPECT_EQ(NgspicePowers("{1/PWRS(x,2)}"), "{1/(sgn(x)*pow(abs(x),2))}");
  EXPECT_EQ(NgspicePowers("{PWRS(PWR(a,b),c)}"), "{sgn(pow(abs(a),b))*pow(abs(pow(abs(a),b)),c)}");
  // Names that only contain the letters stay.
  EXPECT_EQ(NgspicePowers("{XPWR(1,2)+PWRX}"), "{XPWR(1,2)+PWRX}");
  EXPECT_EQ(NgspicePowers("RCP  1 4  1G      ; FOR CONVERGENCE\tA  - C"), "RCP  1 4  1G      ; FOR CONVERGENCE\tA  - C");
}

TEST(SpiceNgspice, ParamsFromTheInstanceLines) {
  EXPECT_EQ(NgspiceParams("X1 1 2 DiodeK  EX=1.372 k = 2345.7 eps=  -0.3\n+ CCP=0.0P  ;\n"),
            "EX=1.372 k=2345.7 eps=-0.3 CCP=0.0P");
  EXPECT_EQ(NgspiceParams("+Sc=.12E-02 ap= 0.046 w=   123.\n"), "Sc=.12E-02 ap=0.046 w=123.");
}

TEST(SpiceNgspice, EveryBodyDeclaresWhatItsInstancePasses) {
  const struct {
    SpiceWriter writer;
    int32_t code;
    const char* subckt;
  } cases[] = {
      {SpiceWriter::kDiode, 0, ".SUBCKT DiodeK 1 2 PARAMS: EX=1.37219 k=2345.678 eps=-0.345678 CCP=0.0P; A C"},
      {SpiceWriter::kPenthode, 2,
       ".SUBCKT PentodeK 1 2 3 4 PARAMS: MU=31.4159 EX=1.37219 kG1=1234.567 KP=345.678 kVB=456.789 kG2=4567.891 "
       "RGI=2000 CCG=0.0P CPG1=0.0p CGP=0.0P CCP=0.0P ; A G2 G1 C"},
      // Combined coefficients in double: 1/1234.567 - 1/4567.891 = 5.91081e-4, 0.000234567/1234.567 =
      // 1.89999e-7, al = 1 - (4.21987/4567.891)*1234.567 = -0.140507, al/1234.567 + 3.21987/4567.891 = 5.91081e-4.
      {SpiceWriter::kPenthode, 16,
       ".SUBCKT PenthodeVN 1 2 3 4 PARAMS: MU=31.4159 EX=1.37219 kG1=1234.567 KP=345.678 kVB=456.789 kG2=4567.891 "
       "MUb=12.3456 EXb=1.65432 svar=0.234567 Ookg1mOokG2=0.00059108116 Aokg1=1.899994E-07 "
       "alkg1palskg2=0.0005910812 be=0.0876543 als=3.21987 RGI=2000 CCG1=0.0P CCG2=0.0p CPG1=0.0p CG1G2=0.0p "
       "CCP=0.0P; A G2 G1 C"},
      {SpiceWriter::kPenthodeg3, 25,
       ".SUBCKT Penthodeg3NE 1 2 3 4 5 PARAMS: MU=31.4159 MU3=5.43219 EX=1.37219 kG1=1234.567 KP=345.678 "
       "kVB=456.789 kG2=4567.891 MUp=7.65432 EXX=1.23456 kG1p=234.567 V0=3.45678 Ookg1mOokG2=0.00059108116 "
       "Aokg1=1.899994E-07 al=-0.1405071 alkg1palskg2=0.0005910812 be=0.0876543 als=3.21987 RGI=2000 CCG1=0.0P "
       "CCG2=0.0p CCG3=0.0p CPG1=0.0p CG1G2=0.0p CG1G3=0.0p CCP=0.0P; A G3 G2 G1 C"},
  };
  for (const auto& c : cases) {
    const TestParams t = Golden(c.code);
    const std::string plain =  // full precision: the same values as the ngspice form
        SpiceBodyText(c.writer, t.P, t.s, c.code, SpiceDialect::kLtspice, SpicePrecision::kFull);
    const std::string ng = SpiceBodyText(c.writer, t.P, t.s, c.code, SpiceDialect::kNgspice);
    const std::vector<std::string> a = SplitLines(plain);
    const std::vector<std::string> b = SplitLines(ng);
    ASSERT_EQ(a.size(), b.size()) << c.code;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i].rfind(".SUBCKT", 0) == 0) {
        EXPECT_EQ(b[i], c.subckt) << c.code;
      } else if (a[i].find("PWR") != std::string::npos) {
        EXPECT_EQ(b[i], NgspicePowers(a[i])) << c.code;
        EXPECT_EQ(b[i].find("PWR"), std::string::npos) << c.code;
      } else {
        EXPECT_EQ(b[i], a[i]) << c.code << " line " << i + 1;
      }
    }
  }
}

// Every code with a body: its entry names the writer and the model subcircuit that the body declares.
TEST(SpiceNgspice, NoPwrLeftInAnyBody) {
  const struct {
    SpiceWriter writer;
    int32_t code;
    const char* model;
  } cases[] = {{SpiceWriter::kDiode, 0, "DiodeK"},          {SpiceWriter::kTriode, 1, "TriodeK"},
               {SpiceWriter::kPenthode, 2, "PentodeK"},     {SpiceWriter::kPenthode, 12, "PenthodeN"},
               {SpiceWriter::kPenthode, 32, "PenthodeNi"},  {SpiceWriter::kPenthode, 22, "PenthodeNE"},
               {SpiceWriter::kPenthode, 13, "BTetrodeN"},   {SpiceWriter::kPenthode, 33, "BTetrodeNi"},
               {SpiceWriter::kPenthode, 23, "BTetrodeNE"},  {SpiceWriter::kPenthode, 16, "PenthodeVN"},
               {SpiceWriter::kPenthode, 26, "PenthodeVNE"}, {SpiceWriter::kHepthode, 14, "HepthodeN"},
               {SpiceWriter::kPenthodeg3, 25, "Penthodeg3NE"}};
  for (const auto& c : cases) {
    const TestParams t = Golden(c.code);
    const ModelInfo& m = ModelInfoFor(c.code);
    EXPECT_EQ(m.writer, c.writer) << c.code;
    EXPECT_EQ(std::string(m.subcircuit), c.model) << c.code;
    const std::string ng = SpiceBodyText(c.writer, t.P, t.s, c.code, SpiceDialect::kNgspice);
    EXPECT_NE(ng.find(".SUBCKT " + std::string(c.model) + " "), std::string::npos) << c.code;
    EXPECT_EQ(ng.find("PWR"), std::string::npos) << c.code;
    EXPECT_NE(ng.find(" PARAMS: "), std::string::npos) << c.code;
  }
}

}  // namespace
}  // namespace tubefit
