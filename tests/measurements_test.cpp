// Every file is written by the test in a fresh temporary directory; expected values are the file's numbers
// converted by hand (mA to A, offsets added).
#include "driver/measurements.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "text/stop.h"

namespace tubefit {
namespace {

const char kHeader[] = "Point Curve Ia(mA) Is(mA) Vg(V) Va(V) Vs(V) Vf(V)\n";

class MeasurementFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<testsupport::TempDir>("tubefit_meas_");
    ASSERT_TRUE(dir_->ok());
    ms_ = std::make_unique<MeasurementSet>();
  }
  void TearDown() override { dir_.reset(); }

  static void WriteRaw(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  // Adds a file name.utd with the header and the given records to the settings.
  void AddFile(const std::string& name, const std::string& records) {
    WriteRaw(name + ".utd", kHeader + records);
    s_.DataFile.push_back(name);
  }
  void Read() { ReadMeasurements(s_, *ms_, console_); }
  // Runs the call, which must stop; returns the stop.
  static Stop StopOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const Stop& stop) {
      return stop;
    }
    ADD_FAILURE() << "no stop";
    return Stop(Stop::Kind::kWithText, {}, "none");
  }
  // The single message line of a plain stop raised by reading.
  std::string ReadFault() {
    const Stop stop = StopOf([this] { Read(); });
    EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
    EXPECT_EQ(stop.lines().size(), 1u);
    return stop.lines().empty() ? "" : stop.lines().front();
  }

  std::unique_ptr<testsupport::TempDir> dir_;
  Settings s_;
  std::unique_ptr<MeasurementSet> ms_;
  std::ostringstream console_;
};

// A record "n 1 Ia Is Vg Va Vs 6.3".
std::string Rec(int n, const std::string& ia, const std::string& is, const std::string& vg, const std::string& va,
                const std::string& vs) {
  return std::to_string(n) + " 1 " + ia + " " + is + " " + vg + " " + va + " " + vs + " 6.3\n";
}

TEST_F(MeasurementFiles, ReadsPointsInAmperesAndVolts) {
  s_.TubeType = 'T';
  AddFile("tri", Rec(1, "0", "0", "-2", "0", "0") + Rec(2, "1.5", "0.25", "-2", "50", "50") +
                     Rec(3, "4", "0", "-2", "100", "100") + Rec(1, "2", "0", "-4", "10", "10") +
                     Rec(2, "6", "0", "-4", "100", "100"));
  Read();
  EXPECT_EQ(ms_->NFiles, 1);
  EXPECT_EQ(ms_->file[1].NVg, 2);
  EXPECT_EQ(ms_->file[1].G3File, 1);
  EXPECT_EQ(ms_->file[1].SweepType, kSweepNone);
  EXPECT_EQ(ms_->curve(1, 1).NPts, 3);
  EXPECT_EQ(ms_->curve(1, 2).NPts, 2);
  EXPECT_EQ(ms_->curve(1, 1).Vg1, -2.0f);
  EXPECT_EQ(ms_->curve(1, 2).Vg1, -4.0f);
  EXPECT_EQ(ms_->curve(1, 1).Vg3, 0.0f);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 2).Ia, 0.0015f);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 2).Is, 0.00025f);
  EXPECT_EQ(ms_->point(1, 1, 2).Va, 50.0f);
  EXPECT_EQ(ms_->point(1, 1, 2).Vs, 50.0f);
  EXPECT_FLOAT_EQ(ms_->point(1, 2, 2).Ia, 0.006f);
  EXPECT_EQ(ms_->point(1, 2, 1).Va, 10.0f);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(MeasurementFiles, DecimalCommasReadLikePoints) {
  s_.TubeType = 'T';
  AddFile("comma", "1 1 12,5 0,5 -1,5 100,25 99,75 6,3\n");
  Read();
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 1).Ia, 0.0125f);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 1).Is, 0.0005f);
  EXPECT_EQ(ms_->curve(1, 1).Vg1, -1.5f);
  EXPECT_EQ(ms_->point(1, 1, 1).Va, 100.25f);
  EXPECT_EQ(ms_->point(1, 1, 1).Vs, 99.75f);
}

TEST_F(MeasurementFiles, CrlfTabsAndTrailingBlankLine) {
  s_.TubeType = 'T';
  WriteRaw("tracer.utd",
           "Point\tCurve\tIa (mA)\r\n1\t1\t0\t0\t-3\t2.21\t2.21\t6.3 \r\n2\t1\t0.5\t0\t-3\t7.42\t7.42\t6.3 \r\n"
           "\r\n1\t2\t0.25\t0\t-1\t2.5\t2.5\t6.3\r\n\r\n");
  s_.DataFile.push_back("tracer");
  Read();
  EXPECT_EQ(ms_->file[1].NVg, 2);
  EXPECT_EQ(ms_->curve(1, 1).NPts, 2);
  EXPECT_EQ(ms_->curve(1, 2).NPts, 1);
  EXPECT_EQ(ms_->point(1, 1, 2).Va, 7.42f);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 2).Ia, 0.0005f);
  EXPECT_EQ(ms_->curve(1, 2).Vg1, -1.0f);
}

TEST_F(MeasurementFiles, ItemsAfterTheEighthAreIgnored) {
  s_.TubeType = 'T';
  AddFile("extra", "1 1 1 0 -1 10 10 6.3 remark 12\n");
  Read();
  EXPECT_EQ(ms_->curve(1, 1).NPts, 1);
}

TEST_F(MeasurementFiles, OffsetsGoToGridAndAnodeButNotScreen) {
  s_.TubeType = 'P';
  s_.VgOffset = 0.25f;
  s_.VaOffset = 1.5f;
  AddFile("off", Rec(1, "1", "0.5", "-2", "10", "150") + Rec(2, "2", "0.5", "-2", "20", "150"));
  Read();
  EXPECT_EQ(ms_->curve(1, 1).Vg1, -1.75f);
  EXPECT_EQ(ms_->point(1, 1, 1).Va, 11.5f);
  EXPECT_EQ(ms_->point(1, 1, 2).Va, 21.5f);
  EXPECT_EQ(ms_->point(1, 1, 2).Vs, 150.0f);
}

TEST_F(MeasurementFiles, LowReadingFarBelowItsPredecessorIsDropped) {
  s_.TubeType = 'T';
  AddFile("drop", Rec(1, "25", "0", "0", "10", "10") + Rec(2, "30", "0", "0", "20", "20") +
                      Rec(3, "0.05", "0", "0", "30", "30") + Rec(4, "31", "0", "0", "40", "40"));
  Read();
  // No hole: the point after the dropped one takes the next slot.
  ASSERT_EQ(ms_->curve(1, 1).NPts, 3);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 2).Ia, 0.030f);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 3).Ia, 0.031f);
  EXPECT_EQ(ms_->point(1, 1, 3).Va, 40.0f);
  EXPECT_EQ(ms_->point(1, 1, 4).Va, 0.0f);
}

TEST_F(MeasurementFiles, DropComparesWithTheLastStoredPoint) {
  s_.TubeType = 'T';
  // Both low readings are compared with the 30 mA point, the last one stored.
  AddFile("drop2", Rec(1, "30", "0", "0", "10", "10") + Rec(2, "0.05", "0", "0", "20", "20") +
                       Rec(3, "0", "0", "0", "30", "30") + Rec(4, "-0.1", "0", "0", "40", "40"));
  Read();
  EXPECT_EQ(ms_->curve(1, 1).NPts, 1);
}

TEST_F(MeasurementFiles, LowReadingAfterSmallCurrentIsKept) {
  s_.TubeType = 'T';
  AddFile("keep", Rec(1, "5", "0", "0", "10", "10") + Rec(2, "0.05", "0", "0", "20", "20"));
  Read();
  ASSERT_EQ(ms_->curve(1, 1).NPts, 2);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 2).Ia, 0.00005f);
}

TEST_F(MeasurementFiles, ReadingAboveTenthMilliampIsAlwaysKept) {
  s_.TubeType = 'T';
  AddFile("keep2", Rec(1, "30", "0", "0", "10", "10") + Rec(2, "0.2", "0", "0", "20", "20") +
                       Rec(3, "0.11", "0", "0", "30", "30"));
  Read();
  ASSERT_EQ(ms_->curve(1, 1).NPts, 3);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 2).Ia, 0.0002f);
}

TEST_F(MeasurementFiles, FirstPointOfACurveIsNeverDropped) {
  s_.TubeType = 'T';
  AddFile("first", Rec(1, "30", "0", "0", "10", "10") + Rec(1, "0", "0", "-5", "10", "10"));
  Read();
  ASSERT_EQ(ms_->file[1].NVg, 2);
  EXPECT_EQ(ms_->curve(1, 2).NPts, 1);
}

TEST_F(MeasurementFiles, StrappedPentodeAnodeCurrentIsCathodeCurrent) {
  s_.TubeType = 'X';
  AddFile("strap", Rec(1, "10", "2.5", "0", "100", "100") + Rec(2, "20", "4", "0", "150", "150"));
  Read();
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 1).Ia, 0.0125f);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 1).Is, 0.0025f);
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 2).Ia, 0.024f);
}

TEST_F(MeasurementFiles, StrappedDropComparesWithStoredCathodeCurrent) {
  s_.TubeType = 'X';
  // 8 mA + 4 mA is stored as 12 mA, so the 0.05 mA reading is at least 10 mA below it and dropped.
  AddFile("strap2", Rec(1, "8", "4", "0", "100", "100") + Rec(2, "0.05", "0", "0", "150", "150"));
  Read();
  EXPECT_EQ(ms_->curve(1, 1).NPts, 1);
}

std::string Curves(int n) {
  std::string text;
  for (int k = 1; k <= n; ++k) text += Rec(1, "1", "0", std::to_string(-k), "10", "10") + Rec(2, "2", "0", "0", "20", "20");
  return text;
}

TEST_F(MeasurementFiles, TwentyCurvesAreAccepted) {
  s_.TubeType = 'T';
  AddFile("twenty", Curves(20));
  Read();
  EXPECT_EQ(ms_->file[1].NVg, 20);
  EXPECT_EQ(ms_->curve(1, 20).Vg1, -20.0f);
  EXPECT_EQ(ms_->curve(1, 20).NPts, 2);
}

TEST_F(MeasurementFiles, TwentyFirstCurveStops) {
  s_.TubeType = 'T';
  AddFile("many", Curves(21));
  const Stop stop = StopOf([this] { Read(); });
  EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
  const std::vector<std::string> expected = {" ", " Max number of Vg values equals:         20",
                                             " Max number of Vg values exceeded.", " Execution halts."};
  EXPECT_EQ(stop.lines(), expected);
}

TEST_F(MeasurementFiles, FilesAreReadInOrder) {
  s_.TubeType = 'T';
  AddFile("one", Curves(2));
  AddFile("two", Curves(3));
  Read();
  EXPECT_EQ(ms_->NFiles, 2);
  EXPECT_EQ(ms_->file[1].NVg, 2);
  EXPECT_EQ(ms_->file[2].NVg, 3);
}

TEST_F(MeasurementFiles, FiveHundredPointsAreAccepted) {
  s_.TubeType = 'T';
  std::string text;
  for (int n = 1; n <= 500; ++n) text += Rec(n, "1", "0", "0", std::to_string(n), "0");
  AddFile("full", text);
  Read();
  EXPECT_EQ(ms_->curve(1, 1).NPts, 500);
  EXPECT_EQ(ms_->point(1, 1, 500).Va, 500.0f);
}

// ---- tubes with a third grid ----

TEST_F(MeasurementFiles, G3NameGivesConstantThirdGrid) {
  s_.TubeType = 'H';
  s_.VgOffset = 0.5f;
  AddFile("hex_g3_1.5", Rec(1, "1", "0.5", "-2", "10", "100") + Rec(1, "1", "0.5", "-4", "10", "100"));
  Read();
  EXPECT_EQ(console_.str(), " File hex_g3_1.5 is a Vg3=Cst file.\n");
  EXPECT_EQ(ms_->file[1].G3File, 1);
  for (int k = 1; k <= 20; ++k) EXPECT_EQ(ms_->curve(1, k).Vg3, -1.5f) << k;
  EXPECT_EQ(ms_->curve(1, 1).Vg1, -1.5f);
  EXPECT_EQ(ms_->curve(1, 2).Vg1, -3.5f);
}

TEST_F(MeasurementFiles, G1NameGivesConstantControlGrid) {
  s_.TubeType = 'F';
  s_.VgOffset = 0.5f;
  AddFile("pen_g1_2.5", Rec(1, "1", "0.5", "-10", "10", "100") + Rec(1, "1", "0.5", "-20", "10", "100"));
  Read();
  EXPECT_EQ(console_.str(), " File pen_g1_2.5 is a Vg1=Cst file.\n");
  EXPECT_EQ(ms_->file[1].G3File, 0);
  for (int k = 1; k <= 20; ++k) EXPECT_EQ(ms_->curve(1, k).Vg1, -2.5f) << k;
  EXPECT_EQ(ms_->curve(1, 1).Vg3, -9.5f);
  EXPECT_EQ(ms_->curve(1, 2).Vg3, -19.5f);
}

TEST_F(MeasurementFiles, NameWithBothMarkersIsAThirdGridFile) {
  s_.TubeType = 'H';
  AddFile("hex_g1_2_g3_1.5", Rec(1, "1", "0.5", "-2", "10", "100"));
  Read();
  EXPECT_EQ(console_.str(), " File hex_g1_2_g3_1.5 is a Vg3=Cst file.\n");
  EXPECT_EQ(ms_->file[1].G3File, 1);
  EXPECT_EQ(ms_->curve(1, 1).Vg3, -1.5f);
  EXPECT_EQ(ms_->curve(1, 1).Vg1, -2.0f);
}

TEST_F(MeasurementFiles, MarkerOnlyMattersForThirdGridTubes) {
  s_.TubeType = 'P';
  AddFile("pen_g1_2.5", Rec(1, "1", "0.5", "-1", "10", "100"));
  Read();
  EXPECT_EQ(console_.str(), "");
  EXPECT_EQ(ms_->file[1].G3File, 1);
  EXPECT_EQ(ms_->curve(1, 1).Vg1, -1.0f);
  EXPECT_EQ(ms_->curve(1, 1).Vg3, 0.0f);
}

TEST_F(MeasurementFiles, NameWithoutMarkerStops) {
  s_.TubeType = 'F';
  AddFile("pentode", Rec(1, "1", "0.5", "-1", "10", "100"));
  const Stop stop = StopOf([this] { Read(); });
  EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
  const std::vector<std::string> expected = {
      " Error in naming for penthode_g3/heptode files.", " Naming should be '..._g1_x.y' or ",
      " Naming should be '..._g3_x.y'.", " x.y represents the negative grid voltage."};
  EXPECT_EQ(stop.lines(), expected);
}

TEST_F(MeasurementFiles, NameWithoutVoltageAfterMarkerStops) {
  s_.TubeType = 'H';
  for (const char* name : {"hex_g3_", "hex_g3_abc", "hex_g3_1.5_x"}) {
    s_.DataFile = FileNames();
    AddFile(name, Rec(1, "1", "0.5", "-1", "10", "100"));
    const Stop stop = StopOf([this] { Read(); });
    EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
    ASSERT_EQ(stop.lines().size(), 2u);
    EXPECT_EQ(stop.lines()[0], std::string(" No grid voltage after the marker in the file name ") + name + ".");
  }
}

// ---- faults ----

TEST_F(MeasurementFiles, MissingFileStops) {
  s_.TubeType = 'T';
  s_.DataFile.push_back("absent");
  EXPECT_EQ(ReadFault(), " Unable to open File absent.utd; aborting.");
}

TEST_F(MeasurementFiles, EmptyFileStops) {
  s_.TubeType = 'T';
  WriteRaw("empty.utd", "");
  s_.DataFile.push_back("empty");
  EXPECT_EQ(ReadFault(), " File empty.utd: the file is empty; a .utd file holds a header line, then one line per measured point.");
}

TEST_F(MeasurementFiles, HeaderOnlyFileStops) {
  s_.TubeType = 'T';
  AddFile("bare", "\n\n");
  EXPECT_EQ(ReadFault(), " File bare.utd: the file holds no measured points.");
}

// A first line that is a point record: the header is missing, also after a byte-order mark.
TEST_F(MeasurementFiles, FileWithoutHeaderLineStops) {
  s_.TubeType = 'T';
  WriteRaw("nohead.utd", "\xEF\xBB\xBF" + Rec(1, "0,5", "0", "0", "10", "10") + Rec(2, "1", "0", "0", "20", "20"));
  s_.DataFile.push_back("nohead");
  EXPECT_EQ(ReadFault(), " File nohead.utd, line 1: the header line is missing: line 1 holds a measured point, but "
                         "the first line of a .utd file is a header that is not read.");
}

struct FaultCase {
  const char* records;
  const char* message;
};

TEST_F(MeasurementFiles, MalformedRecordsStopNamingFileAndLine) {
  const FaultCase cases[] = {
      {"1 1 1 0 -1 10 10\n", " File bad.utd, line 2: the record holds 7 items instead of eight numbers."},
      {"1 1 1 0 -1 10 10 6.3\n2 1 1 0 -1 abc 10 6.3\n", " File bad.utd, line 3: item 6 (abc) is not a number."},
      {"1 1 1 0 x1 10 10 6.3\n", " File bad.utd, line 2: item 5 (x1) is not a number."},
      {"1.0 1 1 0 -1 10 10 6.3\n", " File bad.utd, line 2: item 1 (1.0) is not an integer."},
      {"1 a 1 0 -1 10 10 6.3\n", " File bad.utd, line 2: item 2 (a) is not an integer."},
      {"1 1 nan 0 -1 10 10 6.3\n", " File bad.utd, line 2: item 3 (nan) is not a number."},
      {"1 1 1 inf -1 10 10 6.3\n", " File bad.utd, line 2: item 4 (inf) is not a number."},
      {"1 1 1 0 -1 1e39 10 6.3\n", " File bad.utd, line 2: item 6 (1e39) is not a finite number."},
      {"1 1 1 0 -1 10 10 1.2.3\n", " File bad.utd, line 2: item 8 (1.2.3) is not a number."},
      {"0 1 1 0 -1 10 10 6.3\n", " File bad.utd, line 2: point number 0 is outside 1 to 500."},
      {"1 1 1 0 -1 10 10 6.3\n\n501 1 1 0 -1 10 10 6.3\n",
       " File bad.utd, line 4: point number 501 is outside 1 to 500."},
      {"-3 1 1 0 -1 10 10 6.3\n", " File bad.utd, line 2: point number -3 is outside 1 to 500."},
      {"2 1 1 0 -1 10 10 6.3\n", " File bad.utd, line 2: point 2 comes before the first point 1 of a curve."},
  };
  s_.TubeType = 'T';
  for (const FaultCase& c : cases) {
    s_.DataFile = FileNames();
    AddFile("bad", c.records);
    EXPECT_EQ(ReadFault(), c.message) << c.records;
  }
}

TEST_F(MeasurementFiles, MoreThanFiveHundredPointsInACurveStops) {
  s_.TubeType = 'T';
  std::string text;
  for (int n = 1; n <= 500; ++n) text += Rec(n, "1", "0", "0", "10", "10");
  text += Rec(2, "1", "0", "0", "10", "10");
  AddFile("over", text);
  EXPECT_EQ(ReadFault(), " File over.utd, line 502: curve 1 holds more than 500 points.");
}

TEST_F(MeasurementFiles, RealsInOtherForms) {
  s_.TubeType = 'T';
  AddFile("forms", "+1 1 .5 0 -1. 1.5E2 1.5d2 6\n");
  Read();
  EXPECT_FLOAT_EQ(ms_->point(1, 1, 1).Ia, 0.0005f);
  EXPECT_EQ(ms_->curve(1, 1).Vg1, -1.0f);
  EXPECT_EQ(ms_->point(1, 1, 1).Va, 150.0f);
  EXPECT_EQ(ms_->point(1, 1, 1).Vs, 150.0f);
}

// ---- sweep classification ----

// A constant-screen curve (Vs = 100 V, Va 0..200 V) and a screen-tied curve.
std::string CstCurves() {
  return Rec(1, "1", "1", "0", "0", "100") + Rec(2, "5", "1", "0", "100", "100") +
         Rec(3, "6", "1", "0", "200", "100");
}
std::string TiedCurves() {
  return Rec(1, "1", "1", "0", "0", "0") + Rec(2, "5", "1", "0", "100", "100.5") +
         Rec(3, "6", "1", "0", "200", "199.5");
}

TEST_F(MeasurementFiles, DetSweepAcceptsConstantScreenBeforeTiedScreen) {
  s_.TubeType = 'P';
  AddFile("cst1", CstCurves());
  AddFile("cst2", CstCurves() + CstCurves());
  AddFile("tied", TiedCurves());
  Read();
  ms_->NVsCst = 7;
  DetSweep(s_, *ms_, console_);
  EXPECT_EQ(console_.str(),
            " \n File cst1 is a Vs=Cst sweep.\n File cst2 is a Vs=Cst sweep.\n File tied is a Vs=Va sweep.\n \n");
  EXPECT_EQ(ms_->file[1].SweepType, kSweepVsCst);
  EXPECT_EQ(ms_->file[2].SweepType, kSweepVsCst);
  EXPECT_EQ(ms_->file[3].SweepType, kSweepVsVa);
  EXPECT_EQ(ms_->NVsCst, 2);
  EXPECT_TRUE(ms_->VsVaSeen);
}

TEST_F(MeasurementFiles, DetSweepResetsItsCounts) {
  s_.TubeType = 'P';
  AddFile("cst", CstCurves());
  Read();
  ms_->VsVaSeen = true;
  DetSweep(s_, *ms_, console_);
  EXPECT_FALSE(ms_->VsVaSeen);
  EXPECT_EQ(ms_->NVsCst, 1);
}

TEST_F(MeasurementFiles, DetSweepStopsForConstantScreenAfterTiedScreen) {
  s_.TubeType = 'P';
  AddFile("tied", TiedCurves());
  AddFile("cst", CstCurves());
  Read();
  const Stop stop = StopOf([this] { DetSweep(s_, *ms_, console_); });
  EXPECT_EQ(stop.kind(), Stop::Kind::kWithText);
  EXPECT_EQ(stop.text(), "Execution halts");
  EXPECT_EQ(stop.lines(), std::vector<std::string>{" Vs=Cst files cannot follow a Vs=Va file."});
  EXPECT_EQ(console_.str(), " \n File tied is a Vs=Va sweep.\n File cst is a Vs=Cst sweep.\n");
}

TEST_F(MeasurementFiles, DetSweepStopsForAFileThatIsNeither) {
  s_.TubeType = 'P';
  // The screen follows neither the anode nor a constant.
  AddFile("odd", Rec(1, "1", "1", "0", "0", "50") + Rec(2, "5", "1", "0", "100", "60") +
                     Rec(3, "6", "1", "0", "200", "70"));
  Read();
  const Stop stop = StopOf([this] { DetSweep(s_, *ms_, console_); });
  EXPECT_EQ(stop.kind(), Stop::Kind::kWithText);
  EXPECT_EQ(stop.text(), "*** Internal error in DetSweep");
  EXPECT_EQ(stop.lines(), std::vector<std::string>{" File odd is neither a Vs=Va nor a Vs=Cst sweep."});
}

TEST_F(MeasurementFiles, DetSweepJudgesTheWholeFileNotItsLastCurve) {
  s_.TubeType = 'P';
  // The last curve is a single point at Va = Vs; the file is a constant-screen sweep all the same.
  AddFile("cst", CstCurves() + Rec(1, "1", "1", "-1", "100", "100"));
  Read();
  DetSweep(s_, *ms_, console_);
  EXPECT_EQ(ms_->file[1].SweepType, kSweepVsCst);
  EXPECT_FALSE(ms_->VsVaSeen);
}

TEST_F(MeasurementFiles, DetSweepMeanSquareLimitIsTwoSquareVolts) {
  s_.TubeType = 'P';
  // Va - Vs = 0, 2, 0, 2 over four points: mean square exactly 2.0, which is not a tied screen.
  AddFile("edge", Rec(1, "1", "1", "0", "10", "10") + Rec(2, "1", "1", "0", "12", "10") +
                      Rec(3, "1", "1", "0", "10", "10") + Rec(4, "1", "1", "0", "12", "10"));
  // Va - Vs = 0, 1.9 (mean square 1.805): tied.
  AddFile("tied", Rec(1, "1", "1", "0", "10", "10") + Rec(2, "1", "1", "0", "51.9", "50"));
  Read();
  DetSweep(s_, *ms_, console_);
  EXPECT_EQ(ms_->file[1].SweepType, kSweepVsCst);
  EXPECT_EQ(ms_->file[2].SweepType, kSweepVsVa);
}

}  // namespace
}  // namespace tubefit
