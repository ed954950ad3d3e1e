#include "driver/measurements.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "param.h"
#include "text/format.h"
#include "text/number.h"
#include "text/stop.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr int kItemsPerRecord = 8;
constexpr float kDropCurrentLimit = 0.1f;  // mA: only readings at or below this may be dropped
constexpr float kDropStep = 0.01f;         // A: drop only 10 mA or more below the last stored point
constexpr float kSweepLimit = 2.0f;        // V^2: mean-square limit of the sweep classification
// Largest magnitude of a reading (mA or V). Far beyond any tracer, and small enough that powers, sums of
// squares and model currents formed from the readings stay finite in single precision.
constexpr float kMaxReading = 1.0e6f;

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The blank- or TAB-separated items of a record.
std::vector<std::string_view> SplitItems(std::string_view record) {
  std::vector<std::string_view> items;
  size_t i = 0;
  while (i < record.size()) {
    while (i < record.size() && IsSeparator(record[i])) ++i;
    const size_t start = i;
    while (i < record.size() && !IsSeparator(record[i])) ++i;
    if (i > start) items.push_back(record.substr(start, i - start));
  }
  return items;
}

// Measurement numbers: the commas of a record are already points, and an overlong point number is held at
// the largest value (the point-number check then refuses it).
constexpr NumberOptions kMeasurementNumbers = [] {
  NumberOptions o;
  o.clamp_integers = true;
  return o;
}();

// Ends the run for a fault in the measurement file `file` (name with ".utd").
[[noreturn]] void FileFault(const std::string& file, const std::string& what) {
  PlainStop({ListDirected({"File " + file + ": " + what})});
}

[[noreturn]] void RecordFault(const std::string& file, int32_t line, const std::string& what) {
  PlainStop({ListDirected({"File " + file + ", line " + std::to_string(line) + ": " + what})});
}

// One point record after its items have been checked.
struct PointRecord {
  int32_t n = 0;  // point number
  float Ia = 0.0f, Is = 0.0f;  // mA
  float grid = 0.0f, Va = 0.0f, Vs = 0.0f;  // V
};

// Reads the eight items of a point record (decimal commas already replaced). Items after the eighth are
// ignored. Stops, naming the file and line, for fewer items, an item that is not a number of its kind, or a
// value that is not finite in single precision.
PointRecord ParsePointRecord(const std::string& record, const std::string& file, int32_t line) {
  const std::vector<std::string_view> items = SplitItems(record);
  if (static_cast<int>(items.size()) < kItemsPerRecord) {
    RecordFault(file, line,
                "the record holds " + std::to_string(items.size()) + " items instead of eight numbers.");
  }
  int32_t integer[2] = {};
  for (int i = 0; i < 2; ++i) {
    if (ReadInteger(items[i], integer[i], kMeasurementNumbers) != NumberRead::kOk) {
      RecordFault(file, line,
                  "item " + std::to_string(i + 1) + " (" + std::string(items[i]) + ") is not an integer.");
    }
  }
  float real[kItemsPerRecord] = {};
  for (int i = 2; i < kItemsPerRecord; ++i) {
    const NumberRead read = ReadReal(items[i], real[i], kMeasurementNumbers);
    if (read == NumberRead::kNotANumber) {
      RecordFault(file, line,
                  "item " + std::to_string(i + 1) + " (" + std::string(items[i]) + ") is not a number.");
    }
    if (read == NumberRead::kNotFinite) {
      RecordFault(file, line,
                  "item " + std::to_string(i + 1) + " (" + std::string(items[i]) + ") is not a finite number.");
    }
    if (std::fabs(real[i]) > kMaxReading) {
      RecordFault(file, line,
                  "item " + std::to_string(i + 1) + " (" + std::string(items[i]) +
                      ") is too large; readings must lie between -1000000 and 1000000.");
    }
  }
  PointRecord p;
  p.n = integer[0];
  p.Ia = real[2];
  p.Is = real[3];
  p.grid = real[4];
  p.Va = real[5];
  p.Vs = real[6];
  return p;
}

// True if the record reads as a point record: eight numbers, the first two whole.
bool IsPointRecord(std::string record) {
  for (char& c : record) {
    if (c == ',') c = '.';
  }
  const std::vector<std::string_view> items = SplitItems(record);
  if (static_cast<int>(items.size()) < kItemsPerRecord) return false;
  int32_t whole = 0;
  float real = 0.0f;
  for (int i = 0; i < kItemsPerRecord; ++i) {
    const NumberRead read = i < 2 ? ReadInteger(items[i], whole, kMeasurementNumbers)
                                  : ReadReal(items[i], real, kMeasurementNumbers);
    if (read != NumberRead::kOk) return false;
  }
  return true;
}

// The constant grid voltage of an H or F file, from its name: "_g3_x" (G3File 1, the file holds Vg3 = -x
// and its grid column gives Vg1) or else "_g1_x" (G3File 0, Vg1 = -x, grid column gives Vg3). The number is
// the first blank-separated item after the marker. Prints which kind the file is; stops for a name without
// a marker or without a number after it.
float GridFromName(const std::string& name, int32_t& g3_file, std::ostream& console) {
  size_t at = name.find("_g3_");
  if (at != std::string::npos) {
    WriteList(console, {"File " + name + " is a Vg3=Cst file."});
    g3_file = 1;
  } else {
    at = name.find("_g1_");
    if (at == std::string::npos) {
      PlainStop({ListDirected({"Error in naming for penthode_g3/heptode files."}),
                 ListDirected({"Naming should be '..._g1_x.y' or "}), ListDirected({"Naming should be '..._g3_x.y'."}),
                 ListDirected({"x.y represents the negative grid voltage."})});
    }
    WriteList(console, {"File " + name + " is a Vg1=Cst file."});
    g3_file = 0;
  }
  const std::vector<std::string_view> items = SplitItems(std::string_view(name).substr(at + 4));
  float x = 0.0f;
  if (items.empty() || ReadReal(items[0], x, kMeasurementNumbers) != NumberRead::kOk) {
    PlainStop({ListDirected({"No grid voltage after the marker in the file name " + name + "."}),
               ListDirected({"x.y represents the negative grid voltage."})});
  }
  const float v = -x;
  return v;
}

// Reads file f of the settings into ms.file[f].
void ReadOneFile(const Settings& s, int f, MeasurementSet& ms, std::ostream& console) {
  const std::string name = TrimRight(s.DataFile[f]);
  const std::string file = name + ".utd";
  MeasFile& mf = ms.file[f];
  mf.NVg = 0;
  mf.G3File = 1;
  mf.SweepType = kSweepNone;
  mf.curve.fill(MeasCurve{});

  float v = 0.0f;
  if (s.TubeType == 'H' || s.TubeType == 'F') v = GridFromName(name, mf.G3File, console);
  for (int k = 1; k <= kMaxCurves; ++k) {
    if (mf.G3File == 1) {
      mf.curve[k].Vg3 = v;
    } else {
      mf.curve[k].Vg1 = v;
    }
  }

  std::ifstream in;
  if (FileExists(file)) in.open(file, std::ios::binary);
  std::string record;
  // A read that fails before the end of the file (not an empty file) is an unreadable header.
  if (!in.is_open() || (!ReadRecord(in, record) && in.bad())) {
    PlainStop({ListDirected({"Unable to open File " + file + "; aborting."})});
  }
  if (in.fail()) {
    FileFault(file, "the file is empty; a .utd file holds a header line, then one line per measured point.");
  }
  DropByteOrderMark(record);
  if (IsPointRecord(record)) {
    RecordFault(file, 1,
                "the header line is missing: line 1 holds a measured point, but the first line of a .utd file is "
                "a header that is not read.");
  }

  int32_t k = 0;
  int32_t line = 1;
  while (ReadRecord(in, record)) {
    ++line;
    for (char& c : record) {
      if (c == ',') c = '.';
    }
    if (SplitItems(record).empty()) continue;  // blank lines, as tracers leave at the end, carry no point
    const PointRecord r = ParsePointRecord(record, file, line);
    if (r.n < 1 || r.n > kMaxPoints) {
      RecordFault(file, line,
                  "point number " + std::to_string(r.n) + " is outside 1 to " + std::to_string(kMaxPoints) + ".");
    }
    const float va = r.Va + s.VaOffset;
    const float ia = r.Ia * 0.001f;
    const float is = r.Is * 0.001f;

    if (r.n == 1) {
      ++k;
      if (k > kMaxCurves) {
        PlainStop({ListDirected(), ListDirected({"Max number of Vg values equals:", int32_t{kMaxCurves}}),
                   ListDirected({"Max number of Vg values exceeded."}), ListDirected({"Execution halts."})});
      }
      // Curves of one file are mostly of one length: room for as many points as the curve before.
      if (k > 1) mf.curve[k].pt.reserve(mf.curve[k - 1].NPts);
      const float g = r.grid + s.VgOffset;
      if (mf.G3File == 1) {
        mf.curve[k].Vg1 = g;
      } else {
        mf.curve[k].Vg3 = g;
      }
    } else {
      if (k == 0) {
        RecordFault(file, line, "point " + std::to_string(r.n) + " comes before the first point 1 of a curve.");
      }
      const MeasCurve& c = mf.curve[k];
      const float last_ia = c.pt[c.NPts].Ia;
      // A near-zero reading far below its predecessor is a tracer glitch, not a measurement.
      const float drop_below = last_ia - kDropStep;
      if (ia <= drop_below && r.Ia <= kDropCurrentLimit) continue;
    }

    MeasCurve& c = mf.curve[k];
    if (c.NPts >= kMaxPoints) {
      RecordFault(file, line, "curve " + std::to_string(k) + " holds more than " + std::to_string(kMaxPoints) +
                                  " points.");
    }
    MeasPoint& p = c.pt[++c.NPts];
    p.Ia = ia;
    p.Is = is;
    p.Va = va;
    p.Vs = r.Vs;
    // A pentode strapped as a triode: the anode current of the triode is the whole cathode current.
    if (s.TubeType == 'X') p.Ia = p.Ia + p.Is;
  }
  if (k == 0) FileFault(file, "the file holds no measured points.");
  mf.NVg = k;
}

}  // namespace

void ReadMeasurements(const Settings& s, MeasurementSet& ms, std::ostream& console) {
  ms.NFiles = s.DataFile.count();
  for (int f = 1; f <= ms.NFiles; ++f) ReadOneFile(s, f, ms, console);
}

void CheckCurveLengths(const Settings& s, const MeasurementSet& ms) {
  for (int f = 1; f <= ms.NFiles; ++f) {
    for (int k = 1; k <= ms.file[f].NVg; ++k) {
      if (ms.file[f].curve[k].NPts < 2) {
        FileFault(TrimRight(s.DataFile[f]) + ".utd", "curve " + std::to_string(k) + " holds only one point.");
      }
    }
  }
}

void DetSweep(const Settings& s, MeasurementSet& ms, std::ostream& console) {
  ms.NVsCst = 0;
  ms.VsVaSeen = false;
  WriteList(console);
  for (int f = 1; f <= ms.NFiles; ++f) {
    const std::string name = TrimRight(s.DataFile[f]);
    MeasFile& mf = ms.file[f];
    // Both sums and the count run over every point of the file.
    float s1 = 0.0f;
    float s2 = 0.0f;
    int32_t n = 0;
    for (int k = 1; k <= mf.NVg; ++k) {
      const MeasCurve& c = mf.curve[k];
      const float vs1 = c.pt[1].Vs;
      for (int t = 1; t <= c.NPts; ++t) {
        const float d1 = c.pt[t].Va - c.pt[t].Vs;
        const float d2 = c.pt[t].Vs - vs1;
        s1 = s1 + d1 * d1;
        s2 = s2 + d2 * d2;
        ++n;
      }
    }
    if (n == 0) FileFault(name + ".utd", "the file holds no measured points.");
    const float m1 = s1 / static_cast<float>(n);
    const float m2 = s2 / static_cast<float>(n);
    if (m1 < kSweepLimit) {
      mf.SweepType = kSweepVsVa;
      WriteList(console, {"File " + name + " is a Vs=Va sweep."});
      ms.VsVaSeen = true;
    } else if (m2 < kSweepLimit) {
      mf.SweepType = kSweepVsCst;
      ms.NVsCst += 1;
      WriteList(console, {"File " + name + " is a Vs=Cst sweep."});
      if (ms.VsVaSeen) StopWithText("Execution halts", {ListDirected({"Vs=Cst files cannot follow a Vs=Va file."})});
    } else {
      StopWithText("*** Internal error in DetSweep",
                   {ListDirected({"File " + name + " is neither a Vs=Va nor a Vs=Cst sweep."})});
    }
  }
  WriteList(console);
}

}  // namespace tubefit
