// The written scripts run by the real gnuplot, rendering to PNG without a window or a keyboard.
#include <gtest/gtest.h>


#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "models/models.h"
#include "plot/plot.h"
#include "plot/run_command.h"
#include "plot_test_support.h"
#include "process_support.h"

namespace tubefit {
namespace {

using plottest::AddCurve;
using plottest::Lines;
using plottest::ReadFile;
using plottest::Sweep;
using plottest::TempDir;

// gnuplot where the program itself finds it (on PATH, on Windows also in its installer's folder), or empty.
std::string FindGnuplot() { return ProgramFound("gnuplot") ? "gnuplot" : ""; }

bool IsPng(const std::string& name) {
  const std::string data = ReadFile(name);
  return data.size() > 8 && data.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
}

class GnuplotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gnuplot = FindGnuplot();
    if (gnuplot.empty()) GTEST_SKIP() << "gnuplot is not on PATH (Debian package gnuplot-nox); skipping";
    ASSERT_TRUE(dir.ok());
  }

  // Runs one script with the plain PNG terminal and no keyboard; true if gnuplot ends with 0 and the
  // image is a PNG.
  bool Render(const std::string& script, const std::string& image, const std::string& terminal = "png") {
    const int status = RunProgramArgs(
        {gnuplot, "-e", "set terminal " + terminal + "; set output '" + image + "'", script}, ChildInput::kNull);
    EXPECT_EQ(status, 0) << script;
    return status == 0 && IsPng(image);
  }

  // Writes the plot files without starting gnuplot.
  void WriteFiles(bool png = false) {
    s.GnuplotPath = png ? gnuplot : testsupport::StandIn();
    s.PlotPng = png;
    WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  }

  void Triode(const std::string& name, int ncurves) {
    s.TubeType = 'T';
    s.iModel = 1;
    s.DataFile = {name};
    ParamIdent(1, ps);
    ps.P[ps.slot.mu] = 100.0f;
    ps.P[ps.slot.ex] = 1.4f;
    ps.P[ps.slot.kG1] = 100.0f;
    ps.P[ps.slot.kp] = 600.0f;
    ps.P[ps.slot.kVB] = 300.0f;
    for (int c = 1; c <= ncurves; ++c) {
      std::vector<plottest::Pt> pts = Sweep(0.0f, 300.0f, 25.0f);
      for (plottest::Pt& p : pts) p.Ia = 0.0001f * p.Va / static_cast<float>(c);
      AddCurve(ms, 1, -0.5f * static_cast<float>(c), pts);
    }
  }

  void Pentode() {
    s.TubeType = 'P';
    s.iModel = 2;
    s.DataFile = {"p1", "p2"};
    ParamIdent(2, ps);
    ps.P[ps.slot.mu] = 10.0f;
    ps.P[ps.slot.ex] = 1.4f;
    ps.P[ps.slot.kG1] = 1000.0f;
    ps.P[ps.slot.kp] = 50.0f;
    ps.P[ps.slot.kVB] = 20.0f;
    ps.P[ps.slot.kG2] = 4000.0f;
    for (int f = 1; f <= 2; ++f) {
      for (int c = 1; c <= 3; ++c) {
        std::vector<plottest::Pt> pts = Sweep(0.0f, 400.0f, 50.0f, 250.0f);
        for (plottest::Pt& p : pts) {
          p.Ia = 0.00002f * p.Va / static_cast<float>(c);
          p.Is = 0.001f / static_cast<float>(c);
        }
        AddCurve(ms, f, -1.0f * static_cast<float>(c), pts);
      }
      ms.file[f].SweepType = kSweepVsCst;
    }
  }

  std::string gnuplot;
  TempDir dir;
  Settings s;
  ParamSet ps;
  MeasurementSet ms;
  std::ostringstream console;
};

TEST_F(GnuplotTest, TriodeScriptRendersToPng) {
  Triode("triode", 3);
  WriteFiles();
  EXPECT_TRUE(Render("triode.plt", "triode_test.png"));
}

TEST_F(GnuplotTest, PentodeScriptsRenderToPng) {
  Pentode();
  WriteFiles();
  EXPECT_TRUE(Render("p1.plt", "p1_test.png"));
  EXPECT_TRUE(Render("p1.spl", "p1_screen_test.png"));
}

TEST_F(GnuplotTest, SplitCommandOfTwentyCurvesIsReadByGnuplot) {
  Triode("a_rather_long_measurement_file_name_for_the_split", 20);
  WriteFiles();
  ASSERT_GT(Lines(ReadFile("a_rather_long_measurement_file_name_for_the_split.plt")).size(), 7u);
  EXPECT_TRUE(Render("a_rather_long_measurement_file_name_for_the_split.plt", "split.png", "png size 1024,768"));
}

TEST_F(GnuplotTest, DiodeScriptRendersToPng) {
  s.TubeType = 'D';
  s.iModel = 0;
  s.DataFile = {"diode"};
  ParamIdent(0, ps);
  ps.P[ps.slot.k] = 1000.0f;
  ps.P[ps.slot.ex] = 1.5f;
  ps.P[ps.slot.eps] = 0.0f;
  std::vector<plottest::Pt> pts = Sweep(0.0f, 100.0f, 10.0f);
  for (plottest::Pt& p : pts) p.Ia = 0.00003f * p.Va;
  AddCurve(ms, 1, 0.0f, pts);
  WriteFiles();
  EXPECT_TRUE(Render("diode.plt", "diode_test.png"));
}

TEST_F(GnuplotTest, PlotPngRendersEveryScriptOfATriode) {
  Triode("triode", 3);
  WriteFiles(true);
  EXPECT_EQ(console.str(), " Plot image written: triode.png\n");
  EXPECT_TRUE(IsPng("triode.png"));
}

TEST_F(GnuplotTest, PlotPngRendersEveryScriptOfTwoPentodeFiles) {
  Pentode();
  WriteFiles(true);
  EXPECT_EQ(console.str(),
            " Plot image written: p1.png\n"
            " Plot image written: p1_screen.png\n"
            " Plot image written: p2.png\n"
            " Plot image written: p2_screen.png\n"
            " Plot image written: overview.png\n");
  for (const char* image : {"p1.png", "p1_screen.png", "p2.png", "p2_screen.png", "overview.png"})
    EXPECT_TRUE(IsPng(image)) << image;
}

TEST_F(GnuplotTest, ImageOfAMissingFileEndsWithAnErrorStatus) {
  Triode("triode", 3);
  WriteFiles();
  // Commands whose data file is gone: gnuplot ends with a non-zero status, which the PNG report relies on.
  const std::vector<PlotImage> images = {{"triode.png", ImageTerminal(ImageKind::kPng, 640, 480), "plot 'missing.dat'", ""}};
  const int status = RunProgramArgs(GnuplotImageArgs(gnuplot, images), ChildInput::kNull);
  EXPECT_NE(status, 0);
}

}  // namespace
}  // namespace tubefit
