#include "driver/batch.h"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "fit/fit_errors.h"
#include "models/model_info.h"
#include "plot/run_command.h"
#include "text/format.h"
#include "text/stop.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxJobs = 1024;                      // runs at a time: more would only exhaust the system
constexpr const char* kOutcomeFile = "tubefit.result";  // left by each run in its folder, removed by the batch
constexpr const char* kLogFile = "tubefit.log";
constexpr const char* kSummaryFile = "summary.csv";

// A value on one line of the outcome file: TABs and line ends become blanks.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// What the batch knows of one run after it has ended.
struct Outcome {
  bool present = false;  // the run left its outcome file
  std::map<std::string, std::string> field;
  std::vector<std::pair<std::string, std::string>> params;  // name, value, in slot order

  std::string Get(const std::string& key) const {
    const auto it = field.find(key);
    return it == field.end() ? "" : it->second;
  }
  bool ok() const { return present && Get("result") == "ok"; }
};

Outcome ReadOutcome(const fs::path& path) {
  Outcome o;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return o;
  std::string record;
  while (ReadRecord(in, record)) {
    const size_t tab = record.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = record.substr(0, tab);
    const std::string value = record.substr(tab + 1);
    if (key == "param") {
      const size_t second = value.find('\t');
      if (second != std::string::npos) o.params.emplace_back(value.substr(0, second), value.substr(second + 1));
    } else {
      o.field[key] = value;
    }
  }
  o.present = !o.Get("result").empty();
  return o;
}

// One configuration of the batch.
struct Job {
  std::string config;  // as given
  std::string shown;   // its folder as given ("." for the working folder)
  fs::path folder;     // the folder, absolute and without "." or ".." steps
  std::string file;    // the configuration's file name inside its folder
  int status = -1;
  Outcome outcome;
};

// A number of the outcome file shortened for the terminal; the text as it is when it is not a number.
std::string Short(const std::string& text) {
  try {
    return ShortestReal(std::stod(text), 4);
  } catch (const std::exception&) {
    return text;
  }
}

// Why a run gave no outcome, from its exit status.
std::string NoOutcome(int status) {
  if (status == 127 || status < 0) return "the program could not be started in the folder";
  if (status > 128) return "ended by signal " + RenderI(status - 128, 0) + " without an outcome";
  return "ended without an outcome (exit status " + RenderI(status, 0) + ")";
}

// The terminal line of a run that has ended.
std::string RunLine(const Job& job) {
  const Outcome& o = job.outcome;
  std::string line = " " + job.shown + ":";
  if (!o.Get("tube").empty()) line += " " + o.Get("tube");
  if (!o.Get("family").empty()) line += " " + o.Get("family");
  if (job.status == 0 && o.ok()) {
    line += ", R2 " + Short(o.Get("R2")) + ", RMS Ia " + Short(o.Get("rms_ia")) + " mA";
    if (!o.Get("rms_is").empty()) line += ", Is " + Short(o.Get("rms_is")) + " mA";
    return line + ", ok";
  }
  if (o.present && !o.Get("message").empty()) return line + ", " + o.Get("message");
  return line + ", " + NoOutcome(job.status);
}

// A CSV field (RFC 4180): quoted when it holds a comma, a quote or a line end, inner quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvRecord(const std::vector<std::string>& fields) {
  std::string record;
  for (size_t i = 0; i < fields.size(); ++i) record += (i == 0 ? "" : ",") + CsvField(fields[i]);
  return record + "\r\n";
}

// summary.csv: the fixed columns, then one column per fitted parameter name in the order the names first
// appear; a run without a parameter leaves its cell empty.
std::string SummaryText(const std::vector<Job>& jobs) {
  std::vector<std::string> names;
  for (const Job& job : jobs) {
    for (const auto& [name, value] : job.outcome.params) {
      bool seen = false;
      for (const std::string& n : names) seen = seen || n == name;
      if (!seen) names.push_back(name);
    }
  }
  std::vector<std::string> header = {"folder", "configuration", "tube", "family", "minimiser", "points",
                                     "R2", "RMS Ia (mA)", "RMS Is (mA)", "result"};
  header.insert(header.end(), names.begin(), names.end());
  std::string text = CsvRecord(header);
  for (const Job& job : jobs) {
    const Outcome& o = job.outcome;
    const bool ok = job.status == 0 && o.ok();
    std::string result = "ok";
    if (!ok) result = o.present && !o.Get("message").empty() ? o.Get("message") : NoOutcome(job.status);
    std::vector<std::string> row = {job.shown,      job.file,         o.Get("tube"), o.Get("family"),
                                    o.Get("minimiser"), o.Get("points"), o.Get("R2"),   o.Get("rms_ia"),
                                    o.Get("rms_is"), result};
    for (const std::string& name : names) {
      std::string value;
      for (const auto& p : o.params) {
        if (p.first == name) value = p.second;
      }
      row.push_back(value);
    }
    text += CsvRecord(row);
  }
  return text;
}

// Runs one configuration in its folder and collects its outcome.
void RunJob(Job& job, const std::string& program) {
  std::error_code error;
  const fs::path outcome = job.folder / kOutcomeFile;
  fs::remove(outcome, error);  // an outcome of an earlier batch must not pass for this run's
  if (!fs::is_directory(job.folder, error)) {
    job.status = -1;
    job.outcome.present = true;
    job.outcome.field["result"] = "stopped";
    job.outcome.field["message"] = "The folder " + job.shown + " does not exist.";
    return;
  }
  job.status = RunInFolder(program, {"--batch", "--result", kOutcomeFile, job.file}, job.folder.string(), kLogFile);
  job.outcome = ReadOutcome(outcome);
  fs::remove(outcome, error);
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const argv[]) {
  CommandLine c;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string arg = argv[i];
    if (arg == "--batch") {
      c.batch = true;
    } else if (arg.rfind("-j", 0) == 0) {
      std::string value = arg.substr(2);
      if (value.empty() && i + 1 < argc && argv[i + 1] != nullptr) value = argv[++i];
      int jobs = 0;
      bool digits = !value.empty() && value.size() <= 4;
      for (const char ch : value) {
        digits = digits && ch >= '0' && ch <= '9';
        if (digits) jobs = 10 * jobs + (ch - '0');
      }
      if (!digits || jobs < 1 || jobs > kMaxJobs) {
        c.error = "The option -j needs the number of runs at a time, 1 to " + RenderI(kMaxJobs, 0) + "; found \"" +
                  value + "\".";
      }
      c.jobs = jobs;
    } else if (arg == "--result") {
      if (i + 1 < argc && argv[i + 1] != nullptr) c.result = argv[++i];
      if (c.result.empty()) c.error = "The option --result needs a file name.";
    } else {
      c.configs.push_back(arg);
    }
  }
  return c;
}

void WriteRunOutcome(const std::string& path, const RunState& state, const FitErrors& errors, bool configured,
                     const std::string& stop) {
  const Settings& s = state.settings;
  std::ostringstream text;
  auto put = [&text](const char* key, const std::string& value) { text << key << '\t' << OneLine(value) << '\n'; };
  put("result", stop.empty() ? "ok" : "stopped");
  if (!stop.empty()) put("message", stop);
  if (s.TubeType != ' ') put("tube", std::string(1, s.TubeType));
  if (configured) {
    put("family", FamilyName(static_cast<Family>(s.iModel / 10)));
    put("minimiser", s.minimiser == Minimiser::kLm ? "lm" : "powell");
  }
  if (stop.empty()) {
    const ParamSet& ps = state.params;
    const CurveErrors& total = errors.total;
    put("points", RenderI(total.points, 0));
    put("R2", RoundTripFloat(errors.R2));
    if (total.points > 0) {
      put("rms_ia", ShortestReal(std::sqrt(total.sum_ia / total.points) * 1000.0, 6));
      if (errors.screen) put("rms_is", ShortestReal(std::sqrt(total.sum_is / total.points) * 1000.0, 6));
    }
    for (int32_t i = 1; i <= ps.NFit && i <= MxNP; ++i) {
      text << "param\t" << OneLine(TrimRight(ps.name[i])) << '\t' << RoundTripFloat(ps.P[i]) << '\n';
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text.str();
}

int RunBatch(const CommandLine& command, const std::string& program, std::ostream& out) {
  std::vector<Job> jobs;
  for (const std::string& config : command.configs) {
    Job job;
    job.config = config;
    const fs::path path(config);
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    job.shown = folder.string();
    job.file = path.filename().string();
    std::error_code error;
    job.folder = fs::weakly_canonical(fs::absolute(folder, error), error);
    if (error) job.folder = fs::absolute(folder);
    jobs.push_back(job);
  }
  // Two runs in one folder would write the same files: refuse them before anything runs.
  bool shared = false;
  for (size_t i = 0; i < jobs.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (jobs[i].folder != jobs[j].folder) continue;
      WriteList(out, {"The configurations " + jobs[j].config + " and " + jobs[i].config + " are in the same folder " +
                      jobs[i].shown + ": their runs would write the same files."});
      shared = true;
      break;
    }
  }
  if (shared) {
    WriteList(out, {"Give one configuration per folder. Nothing was run."});
    return 1;
  }

  std::mutex lines;
  std::atomic<size_t> next{0};
  auto worker = [&]() {
    for (size_t i = next++; i < jobs.size(); i = next++) {
      RunJob(jobs[i], program);
      const std::lock_guard<std::mutex> lock(lines);
      out << RunLine(jobs[i]) << '\n';
      out.flush();
    }
  };
  const size_t count = std::min(jobs.size(), static_cast<size_t>(command.jobs < 1 ? 1 : command.jobs));
  std::vector<std::thread> threads;
  for (size_t t = 1; t < count; ++t) threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();

  int failed = 0;
  for (const Job& job : jobs) failed += job.status == 0 && job.outcome.ok() ? 0 : 1;
  try {
    WriteTextFile(kSummaryFile, SummaryText(jobs));
  } catch (const Stop& stop) {
    for (const std::string& line : stop.lines()) out << line << '\n';
    return 1;
  }
  WriteList(out, {RenderI(static_cast<int32_t>(jobs.size()) - failed, 0) + " of " +
                  RenderI(static_cast<int32_t>(jobs.size()), 0) + " runs ended normally; summary written to " +
                  kSummaryFile + "."});
  out.flush();
  return failed == 0 ? 0 : 1;
}

}  // namespace tubefit
