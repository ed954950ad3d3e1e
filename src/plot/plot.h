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

namespace tubefit {

// The output file names of one measurement file, and the images of the PNG rendering.
struct PlotNames {
  std::string dat, fit, sft, plt, spl;
  std::string png;         // <name>.png, the anode-current plot
  std::string screen_png;  // <name>_screen.png, the screen-current plot
};
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

// Argument vector of the PNG rendering: the path, then for each script "-e" with the terminal and output
// settings for its image (followed by "; " and the script's entry of `extra`, where there is one), then the
// script. scripts, images and extra run in parallel.
std::vector<std::string> GnuplotPngArgs(const std::string& gnuplot_path, const std::vector<std::string>& scripts,
                                        const std::vector<std::string>& images,
                                        const std::vector<std::string>& extra = {});

// The gnuplot settings that make an image of file f readable at a glance, given before its script (the
// anode-current script, or with `screen` the screen-current one): a title with the file name, the tube type,
// the model and the RMS error of the current over the points in the fit; the measured points drawn as black
// dots and named in the key's title; the y range of the measured currents; and 20 distinct colours for the
// fitted curves. P receives the model's clamps.
std::string PngSettings(const Settings& s, const MeasurementSet& ms, int f, ParamVector& P, const Slots& slots,
                        bool screen);

// Writes every plot file and script, then starts gnuplot once on all scripts and waits for it. Normally
// gnuplot is started interactively with the keyboard as its input and nothing is printed. With
// s.PlotPng the scripts are instead rendered to PNG images beside them in a non-interactive gnuplot run, and
// the console names the images. A gnuplot that cannot be started or fails does not end the run; the console
// says so. Stops if a file cannot be written.
void WrtPlot(const Settings& s, const MeasurementSet& ms, ParamVector P, const Slots& slots,
             std::ostream& console);

}  // namespace tubefit
