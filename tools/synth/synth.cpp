// tubefit-synth: writes a .utd measurement file from a model code and known parameters, the way a curve
// tracer would record it: one record per point, currents in mA quantised to 0.01 mA, optional seeded
// Gaussian noise, CRLF line ends.
//
//   tubefit-synth MODEL OUT.utd --param NAME=VALUE ... --vg LIST --va START:STOP:STEP
//                 [--vs VALUE|va] [--vg3 VALUE] [--sweep-g3] [--noise SIGMA_MA] [--seed N]
//
// --vg gives one curve per grid voltage (comma-separated). With --sweep-g3 the curves step the third grid
// instead (the file's grid column then holds Vg3 and --vg gives those values), and --vg3 is the fixed g1
// voltage. --vs va ties the screen to the anode.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "models/models.h"

namespace {

using tubefit::ParamSet;

int Usage(const std::string& why) {
  std::cerr << "tubefit-synth: " << why << "\n"
            << "usage: tubefit-synth MODEL OUT.utd --param NAME=VALUE ... --vg LIST --va START:STOP:STEP\n"
            << "       [--vs VALUE|va] [--vg3 VALUE] [--sweep-g3] [--noise SIGMA_MA] [--seed N]\n";
  return 2;
}

bool ParseFloat(const std::string& text, float& value) {
  char* end = nullptr;
  value = std::strtof(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && std::isfinite(value);
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::stringstream ss(text);
  std::string part;
  while (std::getline(ss, part, sep)) parts.push_back(part);
  return parts;
}

// Sets the parameter with the printed name `name` (compared without trailing blanks).
bool SetParam(ParamSet& ps, const std::string& name, float value) {
  for (int i = 1; i <= ps.NFit; ++i) {
    std::string n = ps.name[i];
    while (!n.empty() && n.back() == ' ') n.pop_back();
    if (n == name) {
      ps.P[i] = value;
      return true;
    }
  }
  return false;
}

// Rounds to the tracer's 0.01 mA resolution.
double Quantise(double mA) { return std::round(mA * 100.0) / 100.0; }

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) return Usage("need a model code and an output file");
  const int iModel = std::atoi(argv[1]);
  const std::string out_name = argv[2];
  ParamSet ps;
  tubefit::ParamIdent(iModel, ps);
  if (ps.NFit == 0) return Usage("no parameter set for model code " + std::string(argv[1]));

  std::vector<float> grids;
  float va0 = 0, va1 = 0, dva = 0, vs_fixed = 0, vg3 = 0, noise = 0;
  bool vs_tied = false, sweep_g3 = false, have_va = false;
  unsigned seed = 1;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--sweep-g3") {
      sweep_g3 = true;
      continue;
    }
    if (!has_value) return Usage("missing value after " + arg);
    const std::string value = argv[++i];
    if (arg == "--param") {
      const size_t eq = value.find('=');
      float v = 0;
      if (eq == std::string::npos || !ParseFloat(value.substr(eq + 1), v)) return Usage("bad --param " + value);
      if (!SetParam(ps, value.substr(0, eq), v)) return Usage("model has no parameter " + value.substr(0, eq));
    } else if (arg == "--vg") {
      for (const std::string& g : Split(value, ',')) {
        float v = 0;
        if (!ParseFloat(g, v)) return Usage("bad grid voltage " + g);
        grids.push_back(v);
      }
    } else if (arg == "--va") {
      const std::vector<std::string> r = Split(value, ':');
      if (r.size() != 3 || !ParseFloat(r[0], va0) || !ParseFloat(r[1], va1) || !ParseFloat(r[2], dva) || dva <= 0)
        return Usage("bad --va " + value);
      have_va = true;
    } else if (arg == "--vs") {
      if (value == "va") {
        vs_tied = true;
      } else if (!ParseFloat(value, vs_fixed)) {
        return Usage("bad --vs " + value);
      }
    } else if (arg == "--vg3") {
      if (!ParseFloat(value, vg3)) return Usage("bad --vg3 " + value);
    } else if (arg == "--noise") {
      if (!ParseFloat(value, noise) || noise < 0) return Usage("bad --noise " + value);
    } else if (arg == "--seed") {
      seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (grids.empty() || !have_va) return Usage("need --vg and --va");

  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0.0, noise > 0 ? noise : 1.0);
  std::ostringstream text;
  text << "Point    Curve     Ia (mA)        Is (mA)       Vg (V)          Va (V)         Vs (V)         Vf (V)\r\n";
  int curve = 0;
  for (const float g : grids) {
    ++curve;
    int point = 0;
    const int steps = static_cast<int>(std::floor((va1 - va0) / dva + 0.5f));
    for (int k = 0; k <= steps; ++k) {
      const float va = va0 + static_cast<float>(k) * dva;
      const float vs = vs_tied ? va : vs_fixed;
      const float vg1 = sweep_g3 ? vg3 : g;
      const float v3 = sweep_g3 ? g : vg3;
      float ia = 0.0f, is = 0.0f;
      tubefit::ParamVector p = ps.P;
      tubefit::Model(iModel, va, vs, vg1, v3, p, ps.slot, ia, is);
      double ia_ma = ia * 1000.0, is_ma = is * 1000.0;
      if (noise > 0) {
        ia_ma += gauss(rng);
        is_ma += gauss(rng);
      }
      ia_ma = std::max(0.0, Quantise(ia_ma));
      is_ma = std::max(0.0, Quantise(is_ma));
      char line[200];
      std::snprintf(line, sizeof line, "%-8d %-9d %-14.2f %-13.2f %-15g %-14g %-14g 6.3\r\n", ++point, curve, ia_ma,
                    is_ma, static_cast<double>(g), static_cast<double>(va), static_cast<double>(vs));
      text << line;
    }
  }
  std::ofstream out(out_name, std::ios::binary | std::ios::trunc);
  out << text.str();
  if (!out) {
    std::cerr << "tubefit-synth: cannot write " << out_name << "\n";
    return 1;
  }
  return 0;
}
