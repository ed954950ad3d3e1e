// Plot output: the measured points and the fitted curves of every measurement file as column files, one
// gnuplot script per plot, and the start of gnuplot on all scripts.
//
// Files per measurement file <name> (the DataFile entry): <name>.dat measured Va, Ia, Is (V, mA);
// <name>.fit fitted anode currents (mA) of every curve over 101 anode voltages; <name>.plt the anode-current
// script. Screen-grid tubes (P, B, H, F, V) also get <name>.sft fitted screen currents and <name>.spl the
// screen-current script.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/measurement_set.h"
#include "core/param_set.h"
#include "core/settings.h"
#include "fit/fit_errors.h"

namespace tubefit {

// The output file names of one measurement file, and the images of the PNG rendering.
struct PlotNames {
  std::string dat, fit, sft, plt, spl;
  std::string png;         // <name>.png, the anode-current plot
  std::string screen_png;  // <name>_screen.png, the screen-current plot
  std::string pts;         // <name>.pts, the measured points of the images, curve by curve
};

// The tube type in words ("triode", "beam tetrode").
std::string TubeWords(char tube);
PlotNames PlotNamesFor(const std::string& data_file);

// Rounds x to a multiple of 5 as 5*trunc((x + 2.5)*0.2): for x >= -2.5 the nearest multiple, halves up.
// Values too large for an integer are held at +-2e9 (they print as asterisks anyway).
int32_t Round5(float x);

// Screen voltage (V) along measured curve c of file f at anode voltage V (V): the first point's at or below
// it, linear interpolation inside (averaged with the interpolation across the wider pair of neighbours where
// there is one), linear extrapolation through the last two points above it. Where two anode voltages that
// would be divided by coincide, or the curve has one point, the nearest measured screen voltage is returned.
float VsInterp(float V, int f, int c, const MeasurementSet& ms);

// Text of the .dat file of file f: one "(3F10.5)" record Va, Ia*1000, Is*1000 per point, curve after curve.
std::string MeasuredText(const MeasurementSet& ms, int f);
// Writes the .dat file of file f to `name`. Stops if the file cannot be written.
void WrtMeasured(const std::string& name, int f, const MeasurementSet& ms);

// Writes the column header record of the .fit/.sft files of file f: for a diode " Va    Ia"; otherwise the
// quoted "Va" and one quoted title per curve, by tube type, sweep class and third-grid flag.
void WrtColumnHead(std::ostream& os, int f, const MeasurementSet& ms, char tube);

// Texts of the .fit and (screen-grid tubes) .sft files of file f: the header, then 101 "(F5.1,100F8.2:)"
// records of V and the fitted current (mA) of every curve, V running evenly from min(500, lowest first
// anode voltage) to max(0, highest last anode voltage). P receives the model's clamps.
void FittedText(const Settings& s, const MeasurementSet& ms, int f, ParamVector& P, const Slots& slots,
                std::string& fit_text, std::string& sft_text);

// Text of a gnuplot script for a file with `ncurves` curves: the anode-current script (.plt), or with
// `screen` the screen-current script (.spl). The plot command is split into lines of about 132 characters,
// each continued line ending in " \".
std::string PlotScript(const PlotNames& names, int ncurves, bool screen);

// Script names of all files in the order gnuplot shows them: file 1 .plt (and .spl for screen-grid tubes),
// then file 2, and so on.
std::vector<std::string> ScriptList(const Settings& s);

// Argument vector of the interactive gnuplot start: the path, "-persist", then the scripts.
std::vector<std::string> GnuplotArgs(const std::string& gnuplot_path, const std::vector<std::string>& scripts);

// The legend text of curve c of file f, with units: "Vg = -3.0 V", "Vs = 250 V, Vg = -1.0 V", "Vs = Va,
// Vg1 = -1.0 V, Vg3 = 0.0 V"; "fitted" for a diode.
std::string CurveLegend(char tube, const MeasurementSet& ms, int f, int c);

// Text of the .pts file of file f, which the images read: for every curve with points one block of
// "(3F10.5,I2)" records Va, Ia*1000, Is*1000 and 1 for a point inside the fit window (0 outside), blocks
// separated by two empty lines.
std::string PointsText(const Settings& s, const MeasurementSet& ms, int f);

// The gnuplot commands of the image of file f (the anode current, or with `screen` the screen current),
// which read the .fit or .sft file and the .pts file: a title with the file name, the tube type, the model
// and the RMS error over the points in the fit (from the run's fit errors); axis labels; the y range of the
// measured currents; every curve in its own colour, the fitted line titled by its voltages and the measured
// points filled inside the fit window and hollow outside; on anode images the Pmax hyperbola Ia = Pmax/Va.
std::string ImageCommands(const Settings& s, const MeasurementSet& ms, int f, const FitErrors& errors, bool screen);

enum class ImageKind { kPng, kSvg };

// One image of a non-interactive gnuplot run: its file, terminal and commands, and a caption.
struct PlotImage {
  std::string file, terminal, commands, caption;
};

// The terminal command of an image of the given size: the cairo PNG terminal where gnuplot has it (else the
// plain one), or the SVG terminal on a white background.
std::string ImageTerminal(ImageKind kind, int width, int height);

// Argument vector of a non-interactive run: the path, then per image "-e" and its terminal, output and
// commands, closed by "set output".
std::vector<std::string> GnuplotImageArgs(const std::string& gnuplot_path, const std::vector<PlotImage>& images);

// The images of the run, in the order of the scripts: per file <name>.png (anode) and, for screen-grid
// tubes, <name>_screen.png; for screen-grid tubes in PNG also <model name>_overview.png, every anode plot
// beside its screen plot, a row per file. With a folder the images go there.
std::vector<PlotImage> PlotImages(const Settings& s, const MeasurementSet& ms, const FitErrors& errors,
                                  ImageKind kind, const std::string& folder);

struct RenderedPlot {
  std::string caption;
  std::string svg;  // the SVG document gnuplot wrote
};

// Renders every plot of the run as SVG in a temporary folder and returns the texts (the plot files must
// have been written by WrtPlot). `problem` says why images are missing: gnuplot line none, no gnuplot, or a
// failed run.
std::vector<RenderedPlot> RenderSvgPlots(const Settings& s, const MeasurementSet& ms, const FitErrors& errors,
                                         std::string& problem);

// Writes every plot file and script, then starts gnuplot once on all scripts and waits for it. Normally
// gnuplot is started interactively with the keyboard as its input and nothing is printed. With
// s.PlotPng the PlotImages are instead rendered in a non-interactive gnuplot run, and the console names
// them. With s.PlotPng or an HTML report the .pts files are written too. A gnuplot that cannot be started or fails does not end the run; the console
// says so. Stops if a file cannot be written.
void WrtPlot(const Settings& s, const MeasurementSet& ms, ParamVector P, const Slots& slots, const FitErrors& errors,
             std::ostream& console);

}  // namespace tubefit
