#include "driver/driver.h"

#include <ctime>
#include <exception>
#include <memory>
#include <string>

#include "core/run_state.h"
#include "driver/config.h"
#include "driver/pipeline.h"
#include "fit/objective.h"
#include "platform/platform.h"
#include "text/format.h"
#include "text/stop.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr size_t kArgumentLength = 80;  // characters of the configuration-file argument that are used

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
      "Usage: tubefit [configuration-file]",
      "       tubefit --help | -h | --version",
      "The configuration file is Model.ini in the working directory unless one is named",
      "(the first 80 characters of the name are used).",
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
      "                       powell) or by Levenberg-Marquardt (faster, and to the least-squares minimum)",
  };
  for (const char* line : kLines) WriteTrimmed(out, line);
}

// The configuration-file name: the first command-line argument (at most 80 characters), else "Model.ini".
void TakeIniFileName(int argc, const char* const argv[], Settings& settings) {
  if (argc > 1 && argv[1] != nullptr) settings.IniFile = std::string(argv[1]).substr(0, kArgumentLength);
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

  try {
    auto state = std::make_unique<RunState>();
    state->start_time = static_cast<double>(std::time(nullptr));
    WrtHeader(out);
    DefaultSimdLevel();  // an unknown or unavailable TUBEFIT_SIMD stops the run before it starts
    Settings& settings = state->settings;
    TakeIniFileName(argc, argv, settings);
    WriteList(out, {"Initialization file is:" + PadTo(settings.IniFile, kArgumentLength)});
    const std::string unopenable = UnopenableName(TrimRight(settings.IniFile));
    if (!unopenable.empty()) {
      StopWithText("Execution halts", {ListDirected({"Ini file " + TrimRight(settings.IniFile) + " cannot be used: " +
                                                     unopenable + "."})});
    }
    if (!FileExists(settings.IniFile)) {
      StopWithText("Execution halts", {ListDirected({"Ini file " + TrimRight(settings.IniFile) + " does not exist."})});
    }
    ReadIni(settings, out);
    RunPipeline(*state, console);
  } catch (const Stop& stop) {
    WriteStop(out, stop);
    return 1;
  } catch (const std::exception& error) {
    WriteInternalError(out, error.what());
    return 1;
  } catch (...) {
    WriteInternalError(out, "unexpected failure");
    return 1;
  }
  out.flush();
  return 0;
}

}  // namespace tubefit
