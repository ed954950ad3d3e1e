#include "driver/driver.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <memory>
#include <string>

#include "core/run_state.h"
#include "driver/batch.h"
#include "driver/config.h"
#include "driver/pipeline.h"
#include "fit/objective.h"
#include "platform/platform.h"
#include "plot/run_command.h"
#include "text/format.h"
#include "text/stop.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr size_t kArgumentLength = 80;  // columns of the configuration-file name on its console line

// The banner at the start of every run.
void WrtHeader(std::ostream& out) {
  WriteList(out);
  WriteList(out, {"***************************"});
  WriteVersionLine(out, kVersion);
  WriteList(out, {"      Jan 23, 2016"});
  WriteList(out, {"***************************"});
  WriteList(out);
}

// The usage text of --help.
void WriteUsage(std::ostream& out) {
  static const char* const kLines[] = {
      "Tubefit fits a vacuum-tube model to measured characteristic curves and writes a SPICE",
      "subcircuit, parameter files and gnuplot plots of measured against fitted curves.",
      "",
      "Usage: tubefit [--batch] [configuration-file]",
      "       tubefit [--batch] [-j N] configuration-file configuration-file...",
      "       tubefit --help | -h | --version",
      "The configuration file is Model.ini in the working directory unless one is named.",
      "  --batch    answer every \"Hit return to continue.\" at once (the console says the run went on)",
      "  -j N       with more than one configuration: run N of them at a time (default 1)",
      "With more than one configuration each runs in the folder of its file, as if started there",
      "(one configuration per folder), with --batch; its console goes to tubefit.log in that folder.",
      "One line per run as it ends; summary.csv in the working folder holds one row per run.",
      "Exit status 0 when every run ended normally, else 1.",
      "",
      "Configuration file, positional lines first, in this order, no comment lines between them:",
      "  gnuplot path         full path of the gnuplot executable, or a program name on the PATH",
      "                       (gnuplot), or none: plot files only (a \"!\" starts a comment)",
      "  number of files      number of measurement files, 1 to 20",
      "  file names           one line per file: the measurement file name without \".utd\"",
      "  tube type            D, T, P, B, H, F, V, X or Y",
      "  model family         Koren, Nolt, NoltE or NoltI",
      "  Pmax                 fit only points whose anode dissipation Va*Ia is below this, W",
      "  VgOffset             added to every grid voltage read from the files, V",
      "Then keyword lines \"keyword = value\", anywhere; lines starting with # or * are ignored, and",
      "a line \"name = value\" whose name is not a keyword below is ignored with a warning:",
      "  VaOffset = volts     added to every anode voltage (negative values give 0)",
      "  Icmax = mA           fit only points whose cathode current Ia+Is is below this",
      "                       (default 1000 mA)",
      "  RdStart = file       read the start values from this parameter file",
      "  Debug = level        1 or more: more console detail and analysis files;",
      "                       2 or more: estimator detail",
      "  SpiceDialect = name  ngspice or ltspice: simulator the subcircuit files are written for",
      "                       (default ltspice); ngspice writes every value with all its digits",
      "  SpicePrecision = full  write every subcircuit value with the digits that give back the",
      "                       fitted 32-bit number (default fields: the plain field widths)",
      "  PlotPng = 1          write the plots as PNG images instead of showing them (no display",
      "                       needed): titled, measured points marked, scaled to the data",
      "  FitReport = 1        print the fit errors of every curve in mA, and write them to Fit.txt;",
      "                       name every parameter the data do not determine (variance > 100 %)",
      "  Minimiser = name     powell or lm: every fit stage by the direction-set method (default",
      "                       powell) or by Levenberg-Marquardt (to the least-squares minimum; today",
      "                       faster on triodes and pentodes, slower on beam tetrodes)",
      "  ModelName = name     name of the subcircuit (default: the first file's name without its",
      "                       folder); characters a SPICE name cannot hold become _",
      "  OperatingPoint = Va, Vg1  (screen-grid tubes Va, Vg1, Vs; H and F Va, Vg1, Vs, Vg3): print",
      "                       Ia, Is, gm, ra and mu of the fitted model there, also in Fit.txt",
      "  Report = html        write <model name>.html, one page with tables, plots and subcircuit;",
      "                       md: the same tables in Markdown, without images",
  };
  for (const char* line : kLines) WriteTrimmed(out, line);
}

// The stop's message on one line, for the outcome of a run in a batch: its lines and a stop text other than
// "Execution halts", every run of blanks (the padding of list-directed fields) one blank.
std::string StopSummary(const Stop& stop) {
  std::string all;
  for (const std::string& line : stop.lines()) all += " " + line;
  if (stop.kind() == Stop::Kind::kWithText && stop.text() != "Execution halts") all += " " + stop.text();
  std::string text;
  for (const char c : all) {
    if (c != ' ' || (!text.empty() && text.back() != ' ')) text += c;
  }
  text = TrimRight(text);
  return text.empty() ? stop.FinalLine() : text;
}

void WriteStop(std::ostream& out, const Stop& stop) {
  for (const std::string& line : stop.lines()) out << line << '\n';
  out << stop.FinalLine() << '\n';
  out.flush();
}

void WriteInternalError(std::ostream& out, const std::string& what) {
  WriteList(out, {"Internal error: " + what});
  WriteTrimmed(out, "Execution halts");
  out.flush();
}

// One run of the configuration named on the command line (Model.ini when none is), on the console. With
// command.result, the run's outcome is written to that file at the end.
int RunOne(const CommandLine& command, Console& console) {
  std::ostream& out = console.out;
  std::unique_ptr<RunState> state;
  bool configured = false;
  std::string stopped;
  int status = 0;
  FitErrors errors;
  try {
    state = std::make_unique<RunState>();
    state->start_time = static_cast<double>(std::time(nullptr));
    WrtHeader(out);
    DefaultSimdLevel();  // an unknown or unavailable TUBEFIT_SIMD stops the run before it starts
    Settings& settings = state->settings;
    if (!command.configs.empty()) settings.IniFile = command.configs.front();
    // Names longer than the 80 columns of the line are shown whole.
    WriteList(out, {"Initialization file is:" + PadTo(settings.IniFile, std::max(kArgumentLength, settings.IniFile.size()))});
    const std::string unopenable = UnopenableName(TrimRight(settings.IniFile));
    if (!unopenable.empty()) {
      StopWithText("Execution halts", {ListDirected({"Ini file " + TrimRight(settings.IniFile) + " cannot be used: " +
                                                     unopenable + "."})});
    }
    if (!FileExists(settings.IniFile)) {
      StopWithText("Execution halts", {ListDirected({"Ini file " + TrimRight(settings.IniFile) + " does not exist."})});
    }
    ReadIni(settings, out);
    configured = true;
    errors = RunPipeline(*state, console);
  } catch (const Stop& stop) {
    WriteStop(out, stop);
    stopped = StopSummary(stop);
    status = 1;
  } catch (const std::exception& error) {
    WriteInternalError(out, error.what());
    stopped = std::string("Internal error: ") + error.what();
    status = 1;
  } catch (...) {
    WriteInternalError(out, "unexpected failure");
    stopped = "Internal error: unexpected failure";
    status = 1;
  }
  out.flush();
  if (!command.result.empty() && state) {
    try {
      WriteRunOutcome(command.result, *state, errors, configured, stopped);
    } catch (...) {
      // Without its outcome file the batch reports the run as ended without an outcome.
    }
  }
  return status;
}

}  // namespace

int RunProgram(int argc, const char* const argv[], Console& console) {
  std::ostream& out = console.out;
  if (argc > 1 && argv[1] != nullptr) {
    const std::string option = argv[1];
    if (option == "--help" || option == "-h") {
      WriteUsage(out);
      out.flush();
      return 0;
    }
    if (option == "--version") {
      WriteFormatted(out, "('Tubefit V',F5.3)", {kVersion});
      out.flush();
      return 0;
    }
  }
  const CommandLine command = ParseCommandLine(argc, argv);
  if (!command.error.empty()) {
    WriteList(out, {command.error});
    out.flush();
    return 1;
  }
  if (command.configs.size() > 1) {
    return RunBatch(command, ThisProgramPath(argc > 0 && argv[0] != nullptr ? argv[0] : "tubefit"), out);
  }
  Console run{console.out, console.in, console.batch || command.batch};
  return RunOne(command, run);
}

}  // namespace tubefit
