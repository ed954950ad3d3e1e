// Reading the run configuration file, through real files in a fresh temporary directory. Expected console
// lines are written out by hand from the list-directed rules: a leading blank, texts as they are, integers in
// 11 columns, floats in 15 columns.
#include "driver/config.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ini_fixture.h"
#include "text/stop.h"

namespace tubefit {
namespace {

struct IniResult {
  std::string console;
  Settings settings;
  bool stopped = false;
  Stop::Kind kind = Stop::Kind::kPlain;
  std::vector<std::string> stop_lines;
  std::string final_line;
};

class ReadIniTest : public IniDirTest {
 protected:
  // Writes the configuration text to `name` and reads it.
  IniResult Read(const std::string& text, const std::string& name = "Model.ini") {
    WriteFile(name, text);
    IniResult r;
    r.settings.IniFile = name;
    std::ostringstream console;
    try {
      ReadIni(r.settings, console);
    } catch (const Stop& stop) {
      r.stopped = true;
      r.kind = stop.kind();
      r.stop_lines = stop.lines();
      r.final_line = stop.FinalLine();
    }
    r.console = console.str();
    return r;
  }

  // A positional head with one data file "a" (created), the given tube and family, Pmax 2.0, VgOffset 0.
  std::string Head(const std::string& tube, const std::string& family) {
    Touch("a.utd");
    return Lines({"fakegnuplot", "1", "a", tube, family, "2.0", "0.0"});
  }

  static void ExpectPlainStop(const IniResult& r, const std::vector<std::string>& lines) {
    ASSERT_TRUE(r.stopped);
    EXPECT_EQ(r.kind, Stop::Kind::kPlain);
    EXPECT_EQ(r.stop_lines, lines);
    EXPECT_EQ(r.final_line, "Stop - Program terminated.");
  }

  static void ExpectHalt(const IniResult& r, const std::vector<std::string>& lines) {
    ASSERT_TRUE(r.stopped);
    EXPECT_EQ(r.kind, Stop::Kind::kWithText);
    EXPECT_EQ(r.stop_lines, lines);
    EXPECT_EQ(r.final_line, "Execution halts");
  }

  static bool Contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
  }
};

const char* const kHead = " Data will be read from file a(.utd)\n";
const char* const kPowerLine = " Fitting model to max power data <       2.000000 W.\n";
const char* const kVgZeroLine = " Vg offset equals   0.000000E+00\n";
const char* const kClosing = " \n *****************************************************\n";

TEST_F(ReadIniTest, FullConfigurationReportAndSettings) {
  Touch("curveA.utd");
  Touch("curveB.utd");
  const IniResult r = Read(Lines({"fakegnuplot   ! the plotter", "2", "curveA", "curveB", "T", "Koren", "1.5", "-0.5",
                                  "VaOffset = 12.5", "Icmax = 250", "Debug = 1"}));
  ASSERT_FALSE(r.stopped) << r.stop_lines.front();
  EXPECT_EQ(r.console,
            " Data will be read from file curveA(.utd)\n"
            " Data will be read from file curveB(.utd)\n"
            " Tube model is triode.\n"
            " Using Koren model\n"
            " Fitting model to max power data <       1.500000 W.\n"
            " Vg offset equals  -5.000000E-01\n"
            " Fitting model to Max. cathode current 250.0 mA.\n"
            " Debug level =          1\n"
            " \n"
            " *****************************************************\n");
  const Settings& s = r.settings;
  EXPECT_EQ(s.GnuplotPath, "fakegnuplot");
  EXPECT_EQ(s.DataFile.count(), 2);
  EXPECT_EQ(s.DataFile[1], "curveA");
  EXPECT_EQ(s.DataFile[2], "curveB");
  EXPECT_EQ(s.TubeType, 'T');
  EXPECT_EQ(s.iModel, 1);
  EXPECT_EQ(s.Pmax, 1.5f);
  EXPECT_EQ(s.VgOffset, -0.5f);
  EXPECT_EQ(s.VaOffset, 12.5f);
  EXPECT_EQ(s.Icmax, 0.25f);
  EXPECT_FALSE(s.RdStart);
  EXPECT_EQ(s.DebugLevel, 1);
  EXPECT_EQ(s.Dialect, SpiceDialect::kLtspice);
  EXPECT_FALSE(s.PlotPng);
  EXPECT_FALSE(s.FitReport);
  EXPECT_EQ(s.minimiser, Minimiser::kPowell);
}

TEST_F(ReadIniTest, MinimalConfigurationHasDefaults) {
  const IniResult r = Read(Head("T", "Koren"));
  ASSERT_FALSE(r.stopped);
  EXPECT_EQ(r.console, std::string(kHead) + " Tube model is triode.\n Using Koren model\n" + kPowerLine + kVgZeroLine +
                           kClosing);
  EXPECT_EQ(r.settings.Icmax, 1.0f);
  EXPECT_EQ(r.settings.VaOffset, 0.0f);
  EXPECT_EQ(r.settings.DebugLevel, 0);
  EXPECT_FALSE(r.settings.RdStart);
}

TEST_F(ReadIniTest, CommentsAndTabsAfterPathAndFileNamesAreIgnored) {
  Touch("curve one.utd");
  const IniResult r = Read(Lines({"fakegnuplot\t\t! gnuplot 5", "1 ! one file", "curve one\t ! comment\t\t", "T", "Koren",
                                  "2.0", "0.0"}));
  ASSERT_FALSE(r.stopped);
  EXPECT_EQ(r.settings.GnuplotPath, "fakegnuplot");
  EXPECT_EQ(r.settings.DataFile[1], "curve one");
  EXPECT_TRUE(Contains(r.console, " Data will be read from file curve one(.utd)\n"));
}

TEST_F(ReadIniTest, HashAndStarLinesAreSkipped) {
  const IniResult r = Read(Head("T", "Koren") + Lines({"#Debug = 1", "*Icmax = 5", "# VaOffset = 3"}));
  ASSERT_FALSE(r.stopped);
  EXPECT_EQ(r.settings.DebugLevel, 0);
  EXPECT_EQ(r.settings.Icmax, 1.0f);
  EXPECT_EQ(r.settings.VaOffset, 0.0f);
  EXPECT_FALSE(Contains(r.console, "Debug level"));
  EXPECT_FALSE(Contains(r.console, "cathode current"));
  EXPECT_FALSE(Contains(r.console, "Warning"));
}

TEST_F(ReadIniTest, MisspeltKeywordsWarnAndTheRunGoesOn) {
  const IniResult r = Read(Head("T", "Koren") + Lines({"IcMax = 2", "VaOfset = 1 ! offset", "DebugLevel=1", "x"}));
  EXPECT_EQ(r.console, std::string(kHead) + " Tube model is triode.\n Using Koren model\n" + kPowerLine + kVgZeroLine +
                           " Warning: line 8 of Model.ini, \"IcMax = 2\": IcMax is not a keyword; did you mean Icmax? "
                           "The line is ignored.\n Warning: line 9 of Model.ini, \"VaOfset = 1\": VaOfset is not a "
                           "keyword; did you mean VaOffset? The line is ignored.\n Warning: line 10 of Model.ini, "
                           "\"DebugLevel=1\": DebugLevel is not a keyword. The line is ignored.\n" + kClosing);
}

TEST_F(ReadIniTest, KeywordsWithBlanksOrAColonWarn) {
  const IniResult r =
      Read(Head("T", "Koren") + Lines({"Plot Png = 1", "Fit Report = 1", "FitReport: 1", "Measured by: me", "a b = c"}));
  EXPECT_EQ(r.console, std::string(kHead) + " Tube model is triode.\n Using Koren model\n" + kPowerLine + kVgZeroLine +
                           " Warning: line 8 of Model.ini, \"Plot Png = 1\": Plot Png is not a keyword; did you mean "
                           "PlotPng? The line is ignored.\n Warning: line 9 of Model.ini, \"Fit Report = 1\": Fit Report "
                           "is not a keyword; did you mean FitReport? The line is ignored.\n Warning: line 10 of "
                           "Model.ini, \"FitReport: 1\": FitReport is followed by \":\", not \"=\"; write FitReport = 1. "
                           "The line is ignored.\n" + kClosing);
}

// A byte-order mark before the gnuplot line (Notepad writes one) is not part of the path.
TEST_F(ReadIniTest, ByteOrderMarkIsSkipped) {
  Touch("a.utd");
  const IniResult r = Read("\xEF\xBB\xBFnone\r\n1\r\na\r\nT\r\nKoren\r\n2.0\r\n0.0\r\nPlotPng = 1\r\n");
  ASSERT_FALSE(r.stopped) << r.stop_lines.front();
  EXPECT_EQ(r.settings.GnuplotPath, "none");
  // And PlotPng = 1 announces no images that gnuplot none never makes.
  EXPECT_TRUE(Contains(r.console, std::string(kVgZeroLine) +
                                      " PlotPng = 1 makes no images: the gnuplot line is none, so gnuplot is not "
                                      "started.\n" + kClosing));
}

// One file line more than the count on line 2: the tube line read is a file name.
TEST_F(ReadIniTest, CountSmallerThanTheFileLines) {
  Touch("a.utd");
  Touch("6sn7.utd");
  const IniResult r = Read(Lines({"fakegnuplot", "1", "a", "6sn7", "T", "Koren", "2.0", "0.0"}));
  ASSERT_TRUE(r.stopped);
  EXPECT_EQ(r.stop_lines.front(), " Do not know tube 6. Execution halts.");
  EXPECT_EQ(r.stop_lines.back(), " Line 4 of Model.ini names the data file 6sn7: the number of files on line 2 (1) "
                                 "may not match the file lines that follow it.");
}

TEST_F(ReadIniTest, NumericKeywordMustEndAtBlankOrEquals) {
  const std::string head = Head("T", "Koren");
  const IniResult longer = Read(head + Lines({"DebugLevel = 2"}));
  ASSERT_FALSE(longer.stopped);
  EXPECT_EQ(longer.settings.DebugLevel, 0);
  EXPECT_FALSE(Contains(longer.console, "Debug level"));

  const IniResult direct = Read(head + Lines({"Debug=2"}));
  ASSERT_FALSE(direct.stopped);
  EXPECT_EQ(direct.settings.DebugLevel, 2);
  EXPECT_TRUE(Contains(direct.console, " Debug level =          2\n"));

  const IniResult spaced = Read(head + Lines({"Debug = 2"}));
  EXPECT_EQ(spaced.settings.DebugLevel, 2);

  const IniResult tabbed = Read(head + Lines({"Debug\t= 3"}));
  EXPECT_EQ(tabbed.settings.DebugLevel, 3);
}

TEST_F(ReadIniTest, FirstMatchingLineWinsAndValueFollowsFirstEquals) {
  const IniResult r = Read(Head("T", "Koren") + Lines({"DebugLevel = 7", "Debug = 1", "Debug = 2", "Icmax = 100 = 5"}));
  ASSERT_FALSE(r.stopped);
  EXPECT_EQ(r.settings.DebugLevel, 1);
  EXPECT_EQ(r.settings.Icmax, 0.1f);
}

TEST_F(ReadIniTest, KeywordPastColumnEightyIsNotSeen) {
  const IniResult r = Read(Head("T", "Koren") + Lines({std::string(76, ' ') + "Debug = 3"}));
  ASSERT_FALSE(r.stopped);
  EXPECT_EQ(r.settings.DebugLevel, 0);
  EXPECT_TRUE(Contains(r.console, " Debug reaches past column 80, where keywords are not read. The line is ignored.\n"));
}

TEST_F(ReadIniTest, NegativeVaOffsetGivesZeroSilently) {
  const IniResult r = Read(Head("T", "Koren") + Lines({"VaOffset = -4.0"}));
  ASSERT_FALSE(r.stopped);
  EXPECT_EQ(r.settings.VaOffset, 0.0f);
  EXPECT_EQ(r.console, std::string(kHead) + " Tube model is triode.\n Using Koren model\n" + kPowerLine + kVgZeroLine +
                           kClosing);
}

TEST_F(ReadIniTest, IcmaxInMilliamperes) {
  const IniResult r = Read(Head("T", "Koren") + Lines({"Icmax = 250"}));
  ASSERT_FALSE(r.stopped);
  EXPECT_TRUE(Contains(r.console, std::string(kVgZeroLine) + " Fitting model to Max. cathode current 250.0 mA.\n"));
  EXPECT_EQ(r.settings.Icmax, 0.25f);

  const IniResult negative = Read(Head("T", "Koren") + Lines({"Icmax = -1"}));
  EXPECT_EQ(negative.settings.Icmax, 1.0f);
  EXPECT_FALSE(Contains(negative.console, "cathode current"));
}

TEST_F(ReadIniTest, DebugZeroIsPrintedNegativeIsNot) {
  const IniResult zero = Read(Head("T", "Koren") + Lines({"Debug = 0"}));
  EXPECT_TRUE(Contains(zero.console, std::string(kVgZeroLine) + " Debug level =          0\n" + kClosing));
  const IniResult negative = Read(Head("T", "Koren") + Lines({"Debug = -3"}));
  EXPECT_EQ(negative.settings.DebugLevel, 0);
  EXPECT_FALSE(Contains(negative.console, "Debug level"));
}

struct FamilyCase {
  const char* tube;
  const char* family;
  int32_t model;
  const char* tube_line;
  const char* family_line;
  const char* rule_line;  // empty: no rule line
};

TEST_F(ReadIniTest, FamilyRulesAndModelCodes) {
  Touch("Triode.par");
  Touch("Triode_g3.par");
  Touch("Penthode.par");
  const char* const kDiode = "*** Diodes can only be fitted using Koren model - setting model to Koren.";
  const char* const kTriode = "*** Triodes can only be fitted using Koren model - setting model to Koren.";
  const char* const kBeam = "*** Beam tetrodes can only be fitted using Nolt, NoltI or NoltE model - setting model to NoltE.";
  const FamilyCase cases[] = {
      {"D", "Koren", 0, "Tube model is diode.", "Using Koren model", ""},
      {"D", "Nolt", 0, "Tube model is diode.", "Using Nolt model", kDiode},
      {"D", "NoltE", 0, "Tube model is diode.", "Using NoltE model", kDiode},
      {"D", "NoltI", 0, "Tube model is diode.", "Using initial Nolt model (NoltI)", kDiode},
      {"T", "NoltE", 1, "Tube model is triode.", "Using NoltE model", kTriode},
      {"X", "Nolt", 1, "Tube model is triode (penthode/heptode) .", "Using Nolt model", kTriode},
      {"Y", "NoltI", 1, "Tube model is triode (heptode, g3 = ctrl grid) .", "Using initial Nolt model (NoltI)", kTriode},
      {"B", "Koren", 23, "Tube model is beam tetrode.", "Using Koren model", kBeam},
      {"B", "Nolt", 13, "Tube model is beam tetrode.", "Using Nolt model", ""},
      {"P", "NoltE", 22, "Tube model is penthode.", "Using NoltE model", ""},
      {"P", "Koren", 2, "Tube model is penthode.", "Using Koren model", ""},
      {"H", "Nolt", 14, "Tube model is hexode/heptode.", "Using Nolt model", ""},
      {"H", "Koren", 4, "Tube model is hexode/heptode.", "Using Koren model", ""},
      {"F", "NoltE", 25, "Tube model is penthode with g3 modelling.", "Using NoltE model", ""},
      {"V", "NoltI", 36, "Tube model is variable mu penthode.", "Using initial Nolt model (NoltI)", ""},
  };
  for (const FamilyCase& c : cases) {
    const IniResult r = Read(Head(c.tube, c.family));
    ASSERT_FALSE(r.stopped) << c.tube << " " << c.family;
    std::string expected = std::string(kHead) + " " + c.tube_line + "\n " + c.family_line + "\n";
    if (*c.rule_line != '\0') expected += std::string(" ") + c.rule_line + "\n";
    EXPECT_EQ(r.console, expected + kPowerLine + kVgZeroLine + kClosing) << c.tube << " " << c.family;
    EXPECT_EQ(r.settings.iModel, c.model) << c.tube << " " << c.family;
    EXPECT_EQ(r.settings.TubeType, c.tube[0]);
  }
}

const std::vector<std::string> kTriodeParMissing = {
    " For fitting a Penthode or Beam tetrode the triode parameter file Triode.par should exist.",
    " This file will be created when fitting the triode model.",
    " As this file seems not to exist, execution halts."};

TEST_F(ReadIniTest, ScreenGridTubesNeedTriodePar) {
  for (const char* tube : {"P", "B", "V", "H"}) {
    const IniResult r = Read(Head(tube, "Nolt"));
    ExpectPlainStop(r, kTriodeParMissing);
    EXPECT_TRUE(Contains(r.console, " Tube model is")) << tube;
    EXPECT_FALSE(Contains(r.console, "Using")) << "family read before the check for " << tube;
  }
}

TEST_F(ReadIniTest, HexodeNeedsBothFilesTriodeParReportedFirst) {
  ExpectPlainStop(Read(Head("H", "Nolt")), kTriodeParMissing);
  Touch("Triode.par");
  ExpectPlainStop(Read(Head("H", "Nolt")),
                  {" For fitting a hexode/heptode the triode parameter file Triode_g3.par should exist.",
                   " This file will be created when fitting the triode 'Y' model.",
                   " As this file seems not to exist, execution halts."});
  Touch("Triode_g3.par");
  EXPECT_FALSE(Read(Head("H", "Nolt")).stopped);
}

TEST_F(ReadIniTest, PentodeWithG3NeedsPenthodeParOnly) {
  ExpectPlainStop(Read(Head("F", "NoltE")),
                  {" For fitting a penthode with g3 the triode parameter file Penthode.par should exist.",
                   " This file will be created when fitting the penthode 'P' model.",
                   " As this file seems not to exist, execution halts."});
  Touch("Penthode.par");
  EXPECT_FALSE(Read(Head("F", "NoltE")).stopped);
  EXPECT_FALSE(Read(Head("X", "Koren")).stopped);
  EXPECT_FALSE(Read(Head("D", "Koren")).stopped);
}

TEST_F(ReadIniTest, TwentyFilesAcceptedTwentyOneStop) {
  std::vector<std::string> lines = {"fakegnuplot", "20"};
  for (int i = 1; i <= 21; ++i) {
    Touch("f" + std::to_string(i) + ".utd");
    lines.push_back("f" + std::to_string(i));
  }
  std::vector<std::string> twenty = lines;
  twenty.erase(twenty.end() - 1);
  for (const char* tail : {"T", "Koren", "2.0", "0.0"}) twenty.push_back(tail);
  const IniResult ok = Read(Lines(twenty));
  ASSERT_FALSE(ok.stopped);
  EXPECT_EQ(ok.settings.DataFile.count(), 20);
  EXPECT_EQ(ok.settings.DataFile[20], "f20");
  EXPECT_TRUE(Contains(ok.console, " Data will be read from file f20(.utd)\n Tube model is triode.\n"));

  lines[1] = "21";
  const IniResult over = Read(Lines(lines));
  ExpectHalt(over, {" Number of files equals:         21", " Maximum number of input files equals         20"});
  EXPECT_EQ(over.console, "");
}

TEST_F(ReadIniTest, NoFilesStopsClearly) {
  for (const char* count : {"0", "-3"}) {
    const IniResult r = Read(Lines({"fakegnuplot", count, "T", "Koren", "2.0", "0.0"}));
    ExpectHalt(r, {" Number of files equals:" + std::string(count[0] == '0' ? "          0" : "         -3"),
                   " At least one input file is needed."});
  }
}

TEST_F(ReadIniTest, LowerCaseTubeLetterIsUnknown) {
  ExpectPlainStop(Read(Head("d", "Koren")),
                  {" Do not know tube d. Execution halts.", " Known tubes are:", " D( Diode)", " T (Triode)",
                   " P (Penthode)", " B (Beam tetrode)", " H (Hexode/heptode)", " F (penthode with g3 modelling)",
                   " V (variable mu penthode)", " X (Penthode with Vs=Va)",
                   " Y (Hexode/heptode with Vs=Va and g3 as ctrl grid)",
                   " Line 4 of Model.ini: tube letters are upper case; write D."});
}

TEST_F(ReadIniTest, UnknownFamilyShowsThePaddedKeyword) {
  const IniResult r = Read(Head("T", "koren"));
  ExpectPlainStop(r, {" Unknown model koren" + std::string(507, ' '), " Known models are Koren, Nolt, NoltI and NoltE.",
                      " Line 5 of Model.ini: model families are case-sensitive; write Koren."});
  EXPECT_EQ(r.stop_lines.front().size(), 1u + 14u + 512u);
}

TEST_F(ReadIniTest, MissingGnuplotPath) {
  Touch("a.utd");
  ExpectPlainStop(Read(Lines({"/no/such/gnuplot  ! comment", "1", "a", "T", "Koren", "2.0", "0.0"})),
                  {" The gnuplot path /no/such/gnuplot does not exist.", " Execution halts."});
  ExpectPlainStop(Read(Lines({"no_such_gnuplot", "1", "a", "T", "Koren", "2.0", "0.0"})),
                  {" The gnuplot path no_such_gnuplot does not exist.",
                   " No program no_such_gnuplot was found on the PATH either.", " Execution halts."});
  for (const char* gnuplot : {"None", "sh"})  // plot files only, or a program on the PATH
    EXPECT_EQ(Read(Lines({gnuplot, "1", "a", "T", "Koren", "2.0", "0.0"})).settings.GnuplotPath, gnuplot);
}

TEST_F(ReadIniTest, MissingDataFileAfterTheFoundOnes) {
  Touch("a.utd");
  const IniResult r = Read(Lines({"fakegnuplot", "2", "a", "b", "T", "Koren", "2.0", "0.0"}));
  ExpectPlainStop(r, {" The data file b does not exist.", " Looked for " + (std::filesystem::path(dir_->path()) / "b.utd").string() + ", named on line 4 of Model.ini.",
                      " Execution halts."});
  EXPECT_EQ(r.console, kHead);
  // A count larger than the file lines reads the tube line as a file name; the ending .utd is dropped.
  const IniResult count = Read(Lines({"fakegnuplot", "2", "a.utd", "T", "Koren", "2.0", "0.0"}));
  ExpectPlainStop(count, {" The data file T does not exist.", " Looked for " + (std::filesystem::path(dir_->path()) / "T.utd").string() + ", named on line 4 of Model.ini.",
                          " That is no file name: the number of files on line 2 (2) may not match the file lines that "
                          "follow it.",
                          " Execution halts."});
  EXPECT_EQ(count.console, " The file name a.utd on line 3 is read without its ending .utd.\n" + std::string(kHead));
}

TEST_F(ReadIniTest, StartFile) {
  const IniResult missing = Read(Head("T", "Koren") + Lines({"RdStart = start.par"}));
  ExpectPlainStop(missing, {" File start.par does not exist.", " Execution halts."});

  Touch("start.par");
  const IniResult found = Read(Head("T", "Koren") + Lines({"Icmax = 10", "RdStart = start.par ! earlier fit"}));
  ASSERT_FALSE(found.stopped);
  EXPECT_TRUE(found.settings.RdStart);
  EXPECT_EQ(found.settings.StartFile, "start.par");
  EXPECT_TRUE(Contains(found.console, " Fitting model to Max. cathode current  10.0 mA.\n"
                                      " Reading starting parameters from file start.par\n" +
                                          std::string(kClosing)));

  Touch("my start.par");
  const IniResult quoted = Read(Head("T", "Koren") + Lines({"UseRdStartFile = 'my start.par'"}));
  ASSERT_FALSE(quoted.stopped);
  EXPECT_EQ(quoted.settings.StartFile, "my start.par");

  std::filesystem::create_directory("sub");
  Touch("sub/s.par");
  const IniResult path = Read(Head("T", "Koren") + Lines({"RdStart = sub/s.par"}));
  ASSERT_FALSE(path.stopped);
  EXPECT_EQ(path.settings.StartFile, "sub/s.par");
}

TEST_F(ReadIniTest, CrLfFileReadsLikeLf) {
  Touch("start.par");
  const std::vector<std::string> lines = {"fakegnuplot ! x", "1", "a", "P", "NoltE", "2.0", "-1.5", "VaOffset = 2",
                                          "Icmax = 100", "RdStart = start.par", "Debug = 2"};
  Touch("Triode.par");
  Touch("a.utd");
  std::string crlf;
  for (const std::string& line : lines) crlf += line + "\r\n";
  const IniResult a = Read(Lines(lines), "lf.ini");
  const IniResult b = Read(crlf, "crlf.ini");
  ASSERT_FALSE(a.stopped);
  ASSERT_FALSE(b.stopped) << b.stop_lines.front();
  EXPECT_EQ(a.console, b.console);
  EXPECT_EQ(b.settings.GnuplotPath, "fakegnuplot");
  EXPECT_EQ(b.settings.DataFile[1], "a");
  EXPECT_EQ(b.settings.iModel, 22);
  EXPECT_EQ(b.settings.VgOffset, -1.5f);
  EXPECT_EQ(b.settings.VaOffset, 2.0f);
  EXPECT_EQ(b.settings.Icmax, 0.1f);
  EXPECT_EQ(b.settings.StartFile, "start.par");
  EXPECT_EQ(b.settings.DebugLevel, 2);
}

TEST_F(ReadIniTest, FreeFormatItemsTakeTheFirstItem) {
  Touch("a.utd");
  const IniResult again = Read(Lines({"fakegnuplot", "", "1, files", "a", "Triode", "Koren ! family", "2.5d0 W",
                                      "-1.0E+01", "Debug = 2 ! more"}));
  ASSERT_FALSE(again.stopped) << again.stop_lines.front();
  EXPECT_EQ(again.settings.DataFile.count(), 1);
  EXPECT_EQ(again.settings.TubeType, 'T');
  EXPECT_EQ(again.settings.iModel, 1);
  EXPECT_EQ(again.settings.Pmax, 2.5f);
  EXPECT_EQ(again.settings.VgOffset, -10.0f);
  EXPECT_EQ(again.settings.DebugLevel, 2);
}

struct BadCase {
  std::vector<std::string> lines;
  const char* message;
};

// A number with one decimal comma reads as that decimal number, in the head and in the keyword lines; a
// comma after a number is the separator it always was.
TEST_F(ReadIniTest, DecimalCommaInNumbers) {
  Touch("a.utd");
  const IniResult r = Read(Lines({"fakegnuplot", "1,", "a", "T", "Koren", "1,5", "-0,25 ! volts", "VaOffset = 2,5",
                                  "Icmax = 12,5"}));
  ASSERT_FALSE(r.stopped) << r.stop_lines.front();
  EXPECT_EQ(r.settings.DataFile.count(), 1);
  EXPECT_EQ(r.settings.Pmax, 1.5f);
  EXPECT_EQ(r.settings.VgOffset, -0.25f);
  EXPECT_EQ(r.settings.VaOffset, 2.5f);
  EXPECT_EQ(r.settings.Icmax, 0.0125f);
}

TEST_F(ReadIniTest, UnreadableValuesNameFileAndLine) {
  Touch("a.utd");
  const BadCase cases[] = {
      {{"fakegnuplot", "two"},
       " Error reading Model.ini, line 2: expected a whole number for the number of files, found \"two\"."},
      {{"fakegnuplot", "1.5"},
       " Error reading Model.ini, line 2: expected a whole number for the number of files, found \"1.5\"."},
      {{"fakegnuplot", "99999999999"},
       " Error reading Model.ini, line 2: expected a whole number for the number of files, found \"99999999999\"."},
      {{"fakegnuplot", ", 3"}, " Error reading Model.ini, line 2: expected a whole number for the number of files, found nothing."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "abc", "0"},
       " Error reading Model.ini, line 6: expected a number for Pmax, found \"abc\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "1,5,0", "0"},
       " Error reading Model.ini, line 6: expected a number for Pmax, found \"1,5,0\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2", "0", "Icmax = 1.5,3"},
       " Error reading Model.ini, line 8: expected a number for Icmax, found \"1.5,3\"."},
      {{"fakegnuplot", "2,5"},
       " Error reading Model.ini, line 2: expected a whole number for the number of files, found \"2,5\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2.0", "1.5e"},
       " Error reading Model.ini, line 7: expected a number for VgOffset, found \"1.5e\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "nan", "0"},
       " Error reading Model.ini, line 6: Pmax must be a finite number, found \"nan\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2", "-Infinity"},
       " Error reading Model.ini, line 7: VgOffset must be a finite number, found \"-Infinity\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "1e39", "0"},
       " Error reading Model.ini, line 6: Pmax must be a finite number, found \"1e39\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2", "0", "Debug = 2.5"},
       " Error reading Model.ini, line 8: expected a whole number for Debug, found \"2.5\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2", "0", "", "Icmax = lots"},
       " Error reading Model.ini, line 9: expected a number for Icmax, found \"lots\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2", "0", "VaOffset = nan"},
       " Error reading Model.ini, line 8: VaOffset must be a finite number, found \"nan\"."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2", "0", "Debug 2"},
       " Error reading Model.ini, line 8: expected \"=\" and a value after Debug."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2", "0", "Icmax ="},
       " Error reading Model.ini, line 8: expected a number for Icmax, found nothing."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2", "0", "RdStart ="},
       " Error reading Model.ini, line 8: expected a value after \"=\" for RdStart."},
      {{}, " Error reading Model.ini: the file ends after line 0, before the gnuplot path."},
      {{"fakegnuplot"}, " Error reading Model.ini: the file ends after line 1, before the number of files."},
      {{"fakegnuplot", "2", "a"}, " Error reading Model.ini: the file ends after line 3, before the name of data file 2."},
      {{"fakegnuplot", "1", "a", "T"}, " Error reading Model.ini: the file ends after line 4, before the model family."},
      {{"fakegnuplot", "1", "a", "T", "Koren", "2.0", "", ""},
       " Error reading Model.ini: the file ends after line 8, before VgOffset."},
  };
  for (const BadCase& c : cases) {
    const IniResult r = Read(Lines(c.lines));
    ExpectHalt(r, {c.message});
  }
}

TEST_F(ReadIniTest, VeryLongLinesAreHandled) {
  const std::string huge(10000, 'x');
  const IniResult junk = Read(Head("T", "Koren") + Lines({huge, "Debug = 1", huge + " = 5"}));
  ASSERT_FALSE(junk.stopped);
  EXPECT_EQ(junk.settings.DebugLevel, 1);

  const IniResult path = Read(Lines({huge, "1", "a", "T", "Koren", "2", "0"}));
  ExpectPlainStop(path, {" The gnuplot path " + std::string(132, 'x') + " does not exist.",
                         " No program " + std::string(132, 'x') + " was found on the PATH either.", " Execution halts."});

  const IniResult number = Read(Lines({"fakegnuplot", "1", "a", "T", "Koren", huge, "0"}));
  ExpectHalt(number,
             {" Error reading Model.ini, line 6: expected a number for Pmax, found \"" + std::string(40, 'x') + "...\"."});

  const IniResult family = Read(Lines({"fakegnuplot", "1", "a", "T", huge, "2", "0"}));
  ExpectPlainStop(family, {" Unknown model " + std::string(512, 'x'), " Known models are Koren, Nolt, NoltI and NoltE."});
}

TEST_F(ReadIniTest, ExtensionKeywords) {
  const std::string head = Head("T", "Koren");
  const IniResult r = Read(head + Lines({"SpiceDialect = ngspice", "PlotPng = 1", "FitReport = 1", "Debug = 0",
                                          "SpicePrecision = Full"}));
  ASSERT_FALSE(r.stopped);
  EXPECT_EQ(r.settings.Dialect, SpiceDialect::kNgspice);
  EXPECT_TRUE(r.settings.PlotPng);
  EXPECT_TRUE(r.settings.FitReport);
  EXPECT_EQ(r.settings.Precision, SpicePrecision::kFull);
  EXPECT_EQ(r.console, std::string(kHead) + " Tube model is triode.\n Using Koren model\n" + kPowerLine + kVgZeroLine +
                           " Debug level =          0\n"
                           " SPICE dialect is ngspice.\n"
                           " SPICE values are written with every digit of the fit.\n"
                           " Plots are also written as PNG images.\n"
                           " A fit report file is written.\n" +
                           kClosing);

  const IniResult lt = Read(head + Lines({"SpiceDialect = LTspice", "PlotPng = 0"}));
  ASSERT_FALSE(lt.stopped);
  EXPECT_EQ(lt.settings.Dialect, SpiceDialect::kLtspice);
  EXPECT_FALSE(lt.settings.PlotPng);
  EXPECT_TRUE(Contains(lt.console, std::string(kVgZeroLine) + " SPICE dialect is ltspice.\n" + kClosing));

  ExpectHalt(Read(head + Lines({"SpiceDialect = pspice"})),
             {" Error reading Model.ini, line 8: unknown SpiceDialect, found \"pspice\"; known dialects are ngspice "
              "and ltspice."});
  ExpectHalt(Read(head + Lines({"PlotPng = 2"})), {" Error reading Model.ini, line 8: PlotPng must be 0 or 1, found 2."});

  const IniResult lm = Read(head + Lines({"Minimiser = LM"}));
  ASSERT_FALSE(lm.stopped);
  EXPECT_EQ(lm.settings.minimiser, Minimiser::kLm);
  EXPECT_TRUE(Contains(lm.console, std::string(kVgZeroLine) + " Fit stages are minimised by Levenberg-Marquardt.\n" +
                                       kClosing));
  const IniResult powell = Read(head + Lines({"Minimiser = powell"}));
  EXPECT_EQ(powell.settings.minimiser, Minimiser::kPowell);
  EXPECT_TRUE(Contains(powell.console, std::string(kVgZeroLine) + kClosing));
  ExpectHalt(Read(head + Lines({"Minimiser = newton"})),
             {" Error reading Model.ini, line 8: unknown Minimiser, found \"newton\"; known minimisers are powell and lm."});
  ExpectHalt(Read(head + Lines({"FitReport = yes"})),
             {" Error reading Model.ini, line 8: expected a whole number for FitReport, found \"yes\"."});

  // The subcircuit name, the operating point (Report is not taken from the FitReport line) and the page.
  const IniResult named = Read(head + Lines({"FitReport = 1", "ModelName = ECC83 (JJ)", "OperatingPoint = 250 , -1.5",
                                              "Report = md"}));
  ASSERT_FALSE(named.stopped);
  EXPECT_EQ(named.settings.ModelName, "ECC83__JJ_");
  EXPECT_TRUE(named.settings.OperatingPoint.set);
  EXPECT_EQ(named.settings.OperatingPoint.Va, 250.0f);
  EXPECT_EQ(named.settings.OperatingPoint.Vg1, -1.5f);
  EXPECT_EQ(named.settings.Report, ReportFormat::kMd);
  EXPECT_TRUE(Contains(named.console,
                       " A fit report file is written.\n"
                       " The model name ECC83 (JJ) holds characters a SPICE name cannot; the subcircuit is named "
                       "ECC83__JJ_.\n Small-signal values are given at the operating point Va = 250 V, Vg1 = -1.5 V.\n"
                       " A fit report page ECC83__JJ_.md is written.\n"));
  ExpectHalt(Read(head + Lines({"OperatingPoint = 250"})),
             {" Error reading Model.ini, line 8: OperatingPoint of tube T needs 2 values (Va, Vg1), found 1."});
  ExpectHalt(Read(head + Lines({"OperatingPoint = 250, minus two"})),
             {" Error reading Model.ini, line 8: expected a number for Vg1 of OperatingPoint, found \"minus two\"."});
  ExpectHalt(Read(head + Lines({"Report = pdf"})),
             {" Error reading Model.ini, line 8: unknown Report, found \"pdf\"; known are html and md."});
  Touch("Triode.par");
  const IniResult pentode = Read(Head("P", "Nolt") + Lines({"OperatingPoint = 250, -2"}));
  ExpectHalt(pentode, {" Error reading Model.ini, line 8: OperatingPoint of tube P needs 3 values (Va, Vg1, Vs), found 2."});
}

TEST_F(ReadIniTest, UnopenableFileStopsWithPaddedName) {
  Settings s;
  s.IniFile = "missing.ini";
  std::ostringstream console;
  try {
    ReadIni(s, console);
    FAIL() << "no stop";
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
    ASSERT_EQ(stop.lines().size(), 1u);
    EXPECT_EQ(stop.lines()[0], " Error opening ini file missing.ini" + std::string(501, ' '));
  }
}

TEST(FindKeyword, SkipsCommentRecordsAndCutsToEightyColumns) {
  std::istringstream in("# Debug = 1\n*Debug = 1\nx\r\n" + std::string(78, ' ') + "Debug = 4\n  Debug = 5\n");
  const KeywordRecord hit = FindKeyword(in, "Debug", KeywordMatch::kWholeWord);
  ASSERT_TRUE(hit.found);
  EXPECT_EQ(hit.line, 5);
  EXPECT_EQ(hit.record, "  Debug = 5");
  EXPECT_FALSE(FindKeyword(in, "Icmax", KeywordMatch::kWholeWord).found);
  EXPECT_EQ(LookupInt(in, "t.ini", "Debug"), 5);
  EXPECT_EQ(LookupReal(in, "t.ini", "Icmax"), -1.0f);
  EXPECT_EQ(LookupInt(in, "t.ini", "Icmax"), -1);
}

TEST(FindKeyword, AnywhereMatchesInsideWords) {
  std::istringstream in("MyDebugX = 1\nXRdStartY = s.par\n");
  EXPECT_FALSE(FindKeyword(in, "Debug", KeywordMatch::kWholeWord).found);
  const KeywordRecord hit = FindKeyword(in, "RdStart", KeywordMatch::kAnywhere);
  ASSERT_TRUE(hit.found);
  EXPECT_EQ(hit.line, 2);
  std::string value = "untouched";
  EXPECT_TRUE(LookupText(in, "t.ini", "RdStart", value));
  EXPECT_EQ(value, "s.par");
  std::string other = "untouched";
  EXPECT_FALSE(LookupText(in, "t.ini", "Nothing", other));
  EXPECT_EQ(other, "untouched");
}

}  // namespace
}  // namespace tubefit
