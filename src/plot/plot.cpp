#include "plot/plot.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fit/fit_errors.h"
#include "models/model_info.h"
#include "models/models.h"
#include "param.h"
#include "platform/platform.h"
#include "plot/run_command.h"
#include "text/format.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

// Number of rows of a .fit/.sft file: both ends of the voltage range included.
constexpr int kFitRows = 101;
// A plot command line longer than this is continued on the next line.
constexpr size_t kScriptLineLength = 132;

// Colours of the fitted curves (linetypes 2 to 21; linetype 1 draws the measured points): twenty that
// stay apart from each other on a white background.
constexpr std::array<const char*, kMaxCurves> kCurveColours = {
    "#e6194b", "#3cb44b", "#4363d8", "#f58231", "#911eb4", "#42d4f4", "#f032e6", "#9a6324", "#469990", "#800000",
    "#808000", "#000075", "#bfef45", "#a9a9a9", "#ff69b4", "#2e8b57", "#d2691e", "#b8860b", "#1e90ff", "#8b008b"};

// The tube type and model family in words, for the image titles.
std::string TubeWordsOf(char tube) {
  switch (tube) {
    case 'D': return "diode";
    case 'T': return "triode";
    case 'P': return "pentode";
    case 'B': return "beam tetrode";
    case 'H': return "hexode/heptode";
    case 'F': return "pentode with g3";
    case 'V': return "variable-mu pentode";
    case 'X': return "triode-connected pentode";
    case 'Y': return "triode-connected hexode/heptode";
    default: return std::string("tube ") + tube;
  }
}

std::string FamilyWord(int32_t iModel) {
  const ModelInfo& model = ModelInfoFor(iModel);
  return model.code < 0 ? "unknown" : FamilyName(model.family);
}

// Curve and point counts held inside the storage limits, so a damaged set cannot index past its arrays.
int CurveCount(const MeasurementSet& ms, int f) { return std::clamp<int>(ms.file[f].NVg, 0, kMaxCurves); }
int PointCount(const MeasurementSet& ms, int f, int c) {
  return std::clamp<int>(ms.curve(f, c).NPts, 0, kMaxPoints);
}

// The header format and the items of every curve for tube types other than D.
std::string HeadFormat(char tube, int32_t sweep, int32_t g3file) {
  const bool hexode = tube == 'H' || tube == 'F';
  const bool screen = IsScreenGridTube(tube);
  if (screen && sweep == kSweepVsCst) {
    if (!hexode) return "(A4,100(' \"Vs=',I3,'; Vg=',F5.1,'\"'),:)";
    if (g3file == 1) return "(A4,100(' \"Vs=',I3,'; Vg3=',F5.1,'; Vg1=',F5.1,'\"'),:)";
    return "(A4,100(' \"Vs=',I3,'; Vg1=',F5.1,'; Vg3=',F5.1,'\"'),:)";
  }
  if (screen && sweep == kSweepVsVa) {
    if (!hexode) return "(A4,100(' \"Vs=Va','; Vg=',F5.1,'\"'),:)";
    if (g3file == 1) return "(A4,100(' \"Vs=Va; Vg3=',F5.1,'; Vg1=',F5.1,'\"'),:)";
    return "(A4,100(' \"Vs=Va; Vg1=',F5.1,'; Vg3=',F5.1,'\"'),:)";
  }
  // Triodes, and a screen-grid file that has not been classified: the control-grid voltage alone.
  return "(A4,100(' \"Vg=',F5.1,'\"'),:)";
}

bool ImageMade(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

// A text as a gnuplot single-quoted string (a quote inside is doubled).
std::string GnuplotQuoted(const std::string& text) {
  std::string q = "'";
  for (const char ch : text) {
    q += ch;
    if (ch == '\'') q += '\'';
  }
  return q + "'";
}

// Renders the images in one gnuplot run that reads nothing from the keyboard, and reports them on the
// console.
void RenderPng(const std::string& gnuplot, const std::vector<PlotImage>& images, std::ostream& console) {
  // An image of an earlier run must not pass for one of this run.
  for (const PlotImage& image : images) std::remove(image.file.c_str());
  console.flush();
  const int status = RunProgramArgs(GnuplotImageArgs(gnuplot, images), ChildInput::kNull);
  if (status < 0) {
    console << ListDirected({"Unable to start gnuplot " + gnuplot + "; no plot images were made."}) << '\n';
    return;
  }
  std::vector<std::string> made;
  for (const PlotImage& image : images)
    if (ImageMade(image.file)) made.push_back(image.file);
  if (status == 0 && made.size() == images.size()) {
    for (const std::string& image : made) console << ListDirected({"Plot image written: " + image}) << '\n';
    return;
  }
  const std::string failed = "gnuplot ended with exit status " + RenderI(status, 0);
  if (made.empty()) {
    console << ListDirected({failed + "; no plot images were made."}) << '\n';
    return;
  }
  console << ListDirected({failed + "; only these plot images were made:"}) << '\n';
  for (const std::string& image : made) console << ListDirected({"Plot image written: " + image}) << '\n';
}

// The gnuplot line "none": plot files only.
bool NoGnuplot(const std::string& path) {
  std::string lower;
  for (const char ch : path) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return lower == "none";
}

// The program to start for the gnuplot line: a bare name that is a file in the working directory is that
// file (it passed the configuration check as such); any other bare name is looked up on PATH.
std::string GnuplotProgram(const std::string& path) {
  if (!HasFolderPart(path) && FileExists(path)) return "./" + path;
  return path;
}

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// An interactive gnuplot without a display and without a terminal chosen by GNUTERM would draw nowhere and
// wait at its "pause -1" for a key. Only programs named gnuplot are taken to be gnuplot; a stand-in program
// is started as it is.
bool GnuplotWithoutDisplay(const std::string& program) {
  const std::string base = program.substr(FileNameStart(program));
  if (base.rfind("gnuplot", 0) != 0) return false;
  return !DisplayAvailable() && !EnvironmentSet("GNUTERM");
}

}  // namespace

std::string TubeWords(char tube) { return TubeWordsOf(tube); }

PlotNames PlotNamesFor(const std::string& data_file) {
  const std::string base = TrimRight(data_file);
  PlotNames n;
  n.dat = base + ".dat";
  n.fit = base + ".fit";
  n.sft = base + ".sft";
  n.plt = base + ".plt";
  n.spl = base + ".spl";
  n.png = base + ".png";
  n.screen_png = base + "_screen.png";
  n.pts = base + ".pts";
  return n;
}

int32_t Round5(float x) {
  const float y = (x + 2.5f) * 0.2f;
  // trunc of a value outside the integer range is undefined; such a voltage prints as asterisks anyway.
  constexpr float kLimit = 4.0e8f;
  if (std::isnan(y)) return 0;
  if (y >= kLimit) return 5 * static_cast<int32_t>(kLimit);
  if (y <= -kLimit) return -5 * static_cast<int32_t>(kLimit);
  return 5 * static_cast<int32_t>(y);
}

float VsInterp(float V, int f, int c, const MeasurementSet& ms) {
  const int n = PointCount(ms, f, c);
  if (n < 1) return 0.0f;
  auto va = [&](int k) { return ms.point(f, c, k).Va; };
  auto vs = [&](int k) { return ms.point(f, c, k).Vs; };

  int i = n + 1;
  for (int k = 1; k <= n; ++k) {
    if (va(k) >= V) {
      i = k;
      break;
    }
  }
  if (i == 1) return vs(1);
  if (i == n + 1) {
    // Above the last point: extrapolate through the last two, unless there is no slope to follow.
    if (n < 2) return vs(n);
    const float span = va(n) - va(n - 1);
    if (span == 0.0f) return vs(n);
    const float t = (va(n) - V) / span;
    const float r = vs(n - 1) + (vs(n) - vs(n - 1)) * (1.0f - t);
    return r;
  }
  // va(i - 1) < V <= va(i), so the span is positive.
  const float span1 = va(i) - va(i - 1);
  const float t = (va(i) - V) / span1;
  const float r1 = vs(i - 1) + (vs(i) - vs(i - 1)) * (1.0f - t);
  if (i + 1 >= n || i < 3) return r1;
  // Curves whose anode voltages do not rise can give the wider pair no span; r1 alone stands then.
  const float span2 = va(i + 1) - va(i - 2);
  if (span2 == 0.0f) return r1;
  const float t2 = (va(i + 1) - V) / span2;
  const float r2 = vs(i - 2) + (vs(i + 1) - vs(i - 2)) * (1.0f - t2);
  const float r = (r1 + r2) / 2.0f;
  return r;
}

std::string MeasuredText(const MeasurementSet& ms, int f) {
  std::ostringstream os;
  for (int c = 1; c <= CurveCount(ms, f); ++c) {
    for (int p = 1; p <= PointCount(ms, f, c); ++p) {
      const MeasPoint& pt = ms.point(f, c, p);
      const float ia_ma = pt.Ia * 1000.0f;
      const float is_ma = pt.Is * 1000.0f;
      WriteFormatted(os, "(3F10.5)", {pt.Va, ia_ma, is_ma});
    }
  }
  return os.str();
}

void WrtMeasured(const std::string& name, int f, const MeasurementSet& ms) {
  WriteTextFile(name, MeasuredText(ms, f));
}

void WrtColumnHead(std::ostream& os, int f, const MeasurementSet& ms, char tube) {
  if (tube == 'D') {
    WriteList(os, {"Va    Ia"});
    return;
  }
  const MeasFile& file = ms.file[f];
  const int ncurves = CurveCount(ms, f);
  // The 5-character label, of which A4 writes the quoted "Va".
  FmtItems items{"\"Va\" "};
  if (ncurves == 0) {
    WriteTrimmed(os, FormatLine("(A4)", items));
    return;
  }
  const std::string format = HeadFormat(tube, file.SweepType, file.G3File);
  const bool hexode = tube == 'H' || tube == 'F';
  const int32_t vs5 = Round5(ms.point(f, 1, 1).Vs);
  for (int c = 1; c <= ncurves; ++c) {
    const MeasCurve& cv = ms.curve(f, c);
    if (!IsScreenGridTube(tube) || (file.SweepType != kSweepVsCst && file.SweepType != kSweepVsVa)) {
      items.emplace_back(cv.Vg1);
      continue;
    }
    if (file.SweepType == kSweepVsCst) items.emplace_back(vs5);
    if (!hexode) {
      items.emplace_back(cv.Vg1);
    } else if (file.G3File == 1) {
      items.emplace_back(cv.Vg3);
      items.emplace_back(cv.Vg1);
    } else {
      items.emplace_back(cv.Vg1);
      items.emplace_back(cv.Vg3);
    }
  }
  WriteTrimmed(os, FormatLine(format, items));
}

void FittedText(const Settings& s, const MeasurementSet& ms, int f, ParamVector& P, const Slots& slots,
                std::string& fit_text, std::string& sft_text) {
  const bool screen = IsScreenGridTube(s.TubeType);
  const int ncurves = CurveCount(ms, f);
  std::ostringstream fit;
  std::ostringstream sft;
  WrtColumnHead(fit, f, ms, s.TubeType);
  if (screen) WrtColumnHead(sft, f, ms, s.TubeType);

  float Vmin = 500.0f;
  float Vmax = 0.0f;
  for (int c = 1; c <= ncurves; ++c) {
    const int n = PointCount(ms, f, c);
    const float first = ms.point(f, c, 1).Va;
    const float last = ms.point(f, c, n).Va;
    if (first < Vmin) Vmin = first;
    if (last > Vmax) Vmax = last;
  }
  const float dV = (Vmax - Vmin) * 0.01f;

  for (int L = 1; L <= kFitRows; ++L) {
    const float V = static_cast<float>(L - 1) * dV + Vmin;
    FmtItems ia_row{V};
    FmtItems is_row{V};
    for (int c = 1; c <= ncurves; ++c) {
      const MeasCurve& cv = ms.curve(f, c);
      const float Vs = VsInterp(V, f, c, ms);
      float Ia = 0.0f;
      float Is = 0.0f;
      Model(s.iModel, V, Vs, cv.Vg1, cv.Vg3, P, slots, Ia, Is);
      const float ia_ma = Ia * 1000.0f;
      const float is_ma = Is * 1000.0f;
      ia_row.emplace_back(ia_ma);
      is_row.emplace_back(is_ma);
    }
    WriteFormatted(fit, "(F5.1,100F8.2:)", ia_row);
    if (screen) WriteFormatted(sft, "(F5.1,100F8.2:)", is_row);
  }
  fit_text = fit.str();
  sft_text = screen ? sft.str() : std::string();
}

std::string PlotScript(const PlotNames& names, int ncurves, bool screen) {
  std::ostringstream os;
  WriteTrimmed(os, "set xlabel \"Anode Voltage (V)\"");
  WriteTrimmed(os, screen ? "set ylabel \"Screen Current (mA)\"" : "set ylabel \"Anode Current (mA)\"");
  WriteTrimmed(os, "set key reverse right outside");
  WriteTrimmed(os, "set grid");

  std::string line = "plot '" + names.dat + (screen ? "'u 1:3" : "'");
  const std::string& fitted = screen ? names.sft : names.fit;
  for (int c = 1; c <= ncurves; ++c) {
    // The column number keeps its leading blanks: " 2" in I2, "  2" in I3.
    const std::string col = TrimRight(FormatLine(screen ? "(I3)" : "(I2)", {static_cast<int32_t>(c + 1)}));
    const std::string item = ",'" + fitted + "'u 1:" + col + "w l title columnhead(" + col + ")";
    line = TrimRight(line);
    if (line.size() > kScriptLineLength) {
      WriteTrimmed(os, line + " \\");
      line = item;
    } else {
      line += item;
    }
  }
  WriteTrimmed(os, line);
  WriteList(os, {"pause -1"});
  return os.str();
}

std::vector<std::string> ScriptList(const Settings& s) {
  std::vector<std::string> scripts;
  for (int f = 1; f <= s.DataFile.count(); ++f) {
    const PlotNames names = PlotNamesFor(s.DataFile[f]);
    scripts.push_back(names.plt);
    if (IsScreenGridTube(s.TubeType)) scripts.push_back(names.spl);
  }
  return scripts;
}

std::vector<std::string> GnuplotArgs(const std::string& gnuplot_path, const std::vector<std::string>& scripts) {
  std::vector<std::string> argv{TrimRight(gnuplot_path), "-persist"};
  argv.insert(argv.end(), scripts.begin(), scripts.end());
  return argv;
}

std::string CurveLegend(char tube, const MeasurementSet& ms, int f, int c) {
  const MeasCurve& cv = ms.curve(f, c);
  auto volts = [](float v) { return TrimRight(RenderF(v, 12, 1)).substr(TrimRight(RenderF(v, 12, 1)).find_first_not_of(' ')) + " V"; };
  if (tube == 'D') return "fitted";
  if (!IsScreenGridTube(tube)) return "Vg = " + volts(cv.Vg1);
  const MeasFile& file = ms.file[f];
  std::string text;
  if (file.SweepType == kSweepVsCst) text = "Vs = " + RenderI(Round5(ms.point(f, 1, 1).Vs), 0) + " V, ";
  if (file.SweepType == kSweepVsVa) text = "Vs = Va, ";
  if (tube == 'H' || tube == 'F') return text + "Vg1 = " + volts(cv.Vg1) + ", Vg3 = " + volts(cv.Vg3);
  return text + "Vg = " + volts(cv.Vg1);
}

std::string PointsText(const Settings& s, const MeasurementSet& ms, int f) {
  std::ostringstream os;
  bool first = true;
  for (int c = 1; c <= CurveCount(ms, f); ++c) {
    if (PointCount(ms, f, c) == 0) continue;
    if (!first) os << "\n\n";
    first = false;
    for (int p = 1; p <= PointCount(ms, f, c); ++p) {
      const MeasPoint& pt = ms.point(f, c, p);
      const float ia_ma = pt.Ia * 1000.0f;
      const float is_ma = pt.Is * 1000.0f;
      const int32_t inside = InFitWindow(pt, s.Pmax, s.Icmax) ? 1 : 0;
      WriteFormatted(os, "(3F10.5,I2)", {pt.Va, ia_ma, is_ma, inside});
    }
  }
  return os.str();
}

std::string ImageCommands(const Settings& s, const MeasurementSet& ms, int f, const FitErrors& errors, bool screen) {
  // The RMS error over the file's points in the fit, as the fit report computes it.
  int32_t points = 0;
  double sum = 0.0;
  for (const CurveErrors& e : errors.curves) {
    if (e.file != f) continue;
    points += e.points;
    sum += screen ? e.sum_is : e.sum_ia;
  }
  std::string title = TrimRight(s.DataFile[f]) + (screen ? " (screen current): " : ": ") + TubeWordsOf(s.TubeType) +
                      ", " + FamilyWord(s.iModel) + " model";
  // Long titles are centred over the plot and would run off the image: the error goes on a line of its own.
  if (points > 0) {
    title += "\n" + std::string("RMS error ") + ShortestReal(std::sqrt(sum / points) * 1000.0, 3) + " mA over " +
             RenderI(points, 0) + " points in the fit";
  }

  // The range of the measured currents, so that fitted curves that run far above the data (beyond the fit
  // window) do not squeeze the measurements into a corner.
  float low = 0.0f;
  float high = 0.0f;
  for (int c = 1; c <= CurveCount(ms, f); ++c) {
    for (int p = 1; p <= PointCount(ms, f, c); ++p) {
      const float i_ma = (screen ? ms.point(f, c, p).Is : ms.point(f, c, p).Ia) * 1000.0f;
      low = std::min(low, i_ma);
      high = std::max(high, i_ma);
    }
  }
  // The last title line says how the points are drawn; "\n" in a double-quoted gnuplot string.
  std::string quoted = "\"";
  for (const char ch : title) {
    if (ch == '\n') {
      quoted += "\\n";
      continue;
    }
    if (ch == '"' || ch == '\\') quoted += '\\';
    quoted += ch;
  }
  quoted += "\\nmeasured points: filled inside the fit window, hollow outside\"";
  std::string text = "set termoption noenhanced; set title " + quoted + "; set xlabel 'Anode Voltage (V)'; set ylabel " +
                     (screen ? std::string("'Screen Current (mA)'") : std::string("'Anode Current (mA)'")) +
                     "; set key reverse Left right outside noautotitle; set grid; set samples 500";
  if (high > low) {
    const float margin = (high - low) * 0.05f;
    text += "; set yrange [" + ShortestReal(low < 0.0f ? low - margin : 0.0f, 4) + ":" +
            ShortestReal(high + margin, 4) + "]";
  } else {
    text += "; set autoscale y";
  }

  const PlotNames names = PlotNamesFor(s.DataFile[f]);
  const std::string& fitted = screen ? names.sft : names.fit;
  std::string plot;
  int block = 0;
  for (int c = 1; c <= CurveCount(ms, f); ++c) {
    const std::string colour = std::string("lc rgb '") + kCurveColours[static_cast<size_t>(c - 1)] + "'";
    if (!plot.empty()) plot += ", ";
    plot += GnuplotQuoted(fitted) + " skip 1 u 1:" + RenderI(c + 1, 0) + " w l lw 1.5 " + colour + " title " +
            GnuplotQuoted(CurveLegend(s.TubeType, ms, f, c));
    if (PointCount(ms, f, c) == 0) continue;
    plot += ", " + GnuplotQuoted(names.pts) + " index " + RenderI(block++, 0) + " u 1:" + (screen ? "3" : "2") +
            ":($4 > 0 ? 7 : 6) w p pt variable ps 0.8 " + colour;
  }
  if (!screen && s.Pmax > 0.0f) {
    if (!plot.empty()) plot += ", ";
    plot += "(x > 0 ? " + ShortestReal(s.Pmax * 1000.0, 7) + " / x : 1/0) w l dt 2 lw 1.5 lc rgb '#505050' title " +
            GnuplotQuoted("Pmax = " + ShortestReal(s.Pmax, 4) + " W (Ia = Pmax/Va)");
  }
  if (plot.empty()) plot = GnuplotQuoted(names.dat) + " u 1:" + (screen ? "3" : "2") + " w p pt 7 lc rgb '#000000'";
  return text + "; plot " + plot;
}

std::string ImageTerminal(ImageKind kind, int width, int height) {
  const std::string size = RenderI(width, 0) + "," + RenderI(height, 0);
  if (kind == ImageKind::kSvg) return "set terminal svg size " + size + " background rgb 'white'";
  return "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) { set terminal pngcairo size " + size +
         " } else { set terminal png size " + size + " }";
}

std::vector<std::string> GnuplotImageArgs(const std::string& gnuplot_path, const std::vector<PlotImage>& images) {
  std::vector<std::string> argv{TrimRight(gnuplot_path)};
  for (const PlotImage& image : images) {
    argv.push_back("-e");
    argv.push_back(image.terminal + "; set output " + GnuplotQuoted(image.file) + "; " + image.commands +
                   "; set output");
  }
  return argv;
}

std::vector<PlotImage> PlotImages(const Settings& s, const MeasurementSet& ms, const FitErrors& errors,
                                  ImageKind kind, const std::string& folder) {
  const bool screen = IsScreenGridTube(s.TubeType);
  const int nfiles = std::min<int>(s.DataFile.count(), kMaxFiles);
  const std::string ext = kind == ImageKind::kSvg ? ".svg" : ".png";
  auto in_folder = [&](const std::string& name) {
    return folder.empty() ? name : folder + "/" + name.substr(name.find_last_of('/') + 1);
  };
  std::vector<PlotImage> images;
  std::string overview;
  for (int f = 1; f <= nfiles; ++f) {
    const std::string base = TrimRight(s.DataFile[f]);
    const std::string anode = ImageCommands(s, ms, f, errors, false);
    images.push_back({in_folder(base + ext), ImageTerminal(kind, 1024, 768), anode,
                      TrimRight(s.DataFile[f]) + ": anode current"});
    overview += "; " + anode;
    if (!screen) continue;
    const std::string screen_commands = ImageCommands(s, ms, f, errors, true);
    images.push_back({in_folder(base + "_screen" + ext), ImageTerminal(kind, 1024, 768), screen_commands,
                      TrimRight(s.DataFile[f]) + ": screen current"});
    overview += "; " + screen_commands;
  }
  if (screen && kind == ImageKind::kPng) {
    // One page of every anode plot (left) beside its screen plot (right), a row per file.
    const std::string terminal =
        "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) { set terminal pngcairo size 1800," +
        RenderI(520 * nfiles, 0) + " font ',8' } else { set terminal png size 1800," + RenderI(520 * nfiles, 0) + " }";
    images.push_back({s.ModelName.empty() ? "overview.png" : s.ModelName + "_overview.png", terminal,
                      "set multiplot layout " + RenderI(nfiles, 0) + ",2" + overview + "; unset multiplot",
                      "overview"});
  }
  return images;
}

void WrtPlot(const Settings& s, const MeasurementSet& ms, ParamVector P, const Slots& slots, const FitErrors& errors,
             std::ostream& console) {
  const bool screen = IsScreenGridTube(s.TubeType);
  const bool images = s.PlotPng || s.Report == ReportFormat::kHtml;
  const int nfiles = std::min<int>(s.DataFile.count(), kMaxFiles);
  for (int f = 1; f <= nfiles; ++f) {
    const PlotNames names = PlotNamesFor(s.DataFile[f]);
    WrtMeasured(names.dat, f, ms);
    std::string fit_text;
    std::string sft_text;
    FittedText(s, ms, f, P, slots, fit_text, sft_text);
    WriteTextFile(names.fit, fit_text);
    if (screen) WriteTextFile(names.sft, sft_text);
    WriteTextFile(names.plt, PlotScript(names, CurveCount(ms, f), false));
    if (screen) WriteTextFile(names.spl, PlotScript(names, CurveCount(ms, f), true));
    if (images) WriteTextFile(names.pts, PointsText(s, ms, f));
  }
  const std::vector<std::string> scripts = ScriptList(s);
  const std::string gnuplot = TrimRight(s.GnuplotPath);
  if (NoGnuplot(gnuplot)) {
    WriteList(console, {"gnuplot is not started (gnuplot line none); the plot files and scripts are written."});
    return;
  }
  const std::string program = GnuplotProgram(gnuplot);
  if (s.PlotPng) {
    RenderPng(program, PlotImages(s, ms, errors, ImageKind::kPng, ""), console);
    return;
  }
  if (ProgramFound(program) && GnuplotWithoutDisplay(program)) {
    WriteList(console, {"No display (DISPLAY and WAYLAND_DISPLAY are not set): gnuplot is not started; the plot "
                        "files and scripts are written."});
    WriteList(console, {"For PNG images of the plots add the line PlotPng = 1 to " + TrimRight(s.IniFile) + "."});
    return;
  }
  console.flush();
  // gnuplot's own exit status does not change the outcome of the run; only a failed start is reported.
  if (RunProgramArgs(GnuplotArgs(program, scripts), ChildInput::kInherit) < 0)
    console << ListDirected({"Unable to start gnuplot " + gnuplot + "; the plot files and scripts are written."})
            << '\n';
}

std::vector<RenderedPlot> RenderSvgPlots(const Settings& s, const MeasurementSet& ms, const FitErrors& errors,
                                         std::string& problem) {
  std::vector<RenderedPlot> plots;
  const std::string gnuplot = TrimRight(s.GnuplotPath);
  if (NoGnuplot(gnuplot)) {
    problem = "gnuplot is not run (gnuplot line none)";
    return plots;
  }
  // A new folder of this process's own in the temporary folder (create_directory fails on one that exists).
  std::string folder;
  std::error_code made;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(made);
  for (int n = 0; n < 100 && folder.empty() && !made; ++n) {
    const std::filesystem::path dir =
        temp / ("tubefit_svg_" + std::to_string(ProcessNumber()) + "_" + std::to_string(n));
    if (std::filesystem::create_directory(dir, made)) folder = dir.string();
  }
  if (folder.empty()) {
    problem = "no temporary folder for the images";
    return plots;
  }
  const std::vector<PlotImage> images = PlotImages(s, ms, errors, ImageKind::kSvg, folder);
  const int status = RunProgramArgs(GnuplotImageArgs(GnuplotProgram(gnuplot), images), ChildInput::kNull);
  for (const PlotImage& image : images) {
    std::ifstream in(image.file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (in && !text.str().empty()) plots.push_back({image.caption, text.str()});
  }
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  if (plots.size() != images.size()) {
    problem = status < 0 ? "gnuplot " + gnuplot + " could not be started"
                         : "gnuplot ended with exit status " + RenderI(status, 0) + " and made " +
                               RenderI(static_cast<int32_t>(plots.size()), 0) + " of " +
                               RenderI(static_cast<int32_t>(images.size()), 0) + " images";
  }
  return plots;
}

}  // namespace tubefit
