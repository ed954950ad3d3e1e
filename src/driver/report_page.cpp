#include "driver/report_page.h"

#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>

#include "fit/fit_errors.h"
#include "models/model_info.h"
#include "spice/spice.h"
#include "text/format.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr double kMilliampere = 1000.0;

std::string Base64(const std::string& data) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t n = (static_cast<uint8_t>(data[i]) << 16) | (static_cast<uint8_t>(data[i + 1]) << 8) |
                       static_cast<uint8_t>(data[i + 2]);
    for (int k = 18; k >= 0; k -= 6) out += kDigits[(n >> k) & 63];
  }
  if (i < data.size()) {
    const bool two = i + 1 < data.size();
    const uint32_t n = (static_cast<uint8_t>(data[i]) << 16) | (two ? static_cast<uint8_t>(data[i + 1]) << 8 : 0);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += two ? kDigits[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Html(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A Markdown table cell: a "|" would end it.
std::string Cell(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

using Row = std::vector<std::string>;

// Writes tables and headings in one of the two formats.
class Page {
 public:
  explicit Page(bool html) : html_(html) {}

  void Heading(int level, const std::string& text) {
    if (html_) {
      // The first word of the heading, in lower case, names its section ("#plots").
      std::string id;
      for (const char c : text.substr(0, text.find(' ')))
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      os_ << "<h" << level << " id=\"" << Html(id) << "\">" << Html(text) << "</h" << level << ">\n";
    } else {
      os_ << std::string(static_cast<size_t>(level), '#') << ' ' << text << "\n\n";
    }
  }
  void Paragraph(const std::string& text) {
    if (html_) {
      os_ << "<p>" << Html(text) << "</p>\n";
    } else {
      os_ << text << "\n\n";
    }
  }
  // A table; columns from `right_from` on are numbers, aligned right.
  void Table(const Row& head, const std::vector<Row>& rows, size_t right_from = 1) {
    if (html_) {
      os_ << "<table>\n<tr>";
      for (const std::string& h : head) os_ << "<th>" << Html(h) << "</th>";
      os_ << "</tr>\n";
      for (const Row& row : rows) {
        os_ << "<tr>";
        for (size_t k = 0; k < row.size(); ++k)
          os_ << (k >= right_from ? "<td class=\"n\">" : "<td>") << Html(row[k]) << "</td>";
        os_ << "</tr>\n";
      }
      os_ << "</table>\n";
      return;
    }
    os_ << "|";
    for (const std::string& h : head) os_ << ' ' << Cell(h) << " |";
    os_ << "\n|";
    for (size_t k = 0; k < head.size(); ++k) os_ << (k >= right_from ? "---:|" : "---|");
    os_ << "\n";
    for (const Row& row : rows) {
      os_ << "|";
      for (const std::string& c : row) os_ << ' ' << Cell(c) << " |";
      os_ << "\n";
    }
    os_ << "\n";
  }
  void Preformatted(const std::string& text) {
    if (html_) {
      os_ << "<pre>" << Html(text) << "</pre>\n";
    } else {
      os_ << "```\n" << text << (text.empty() || text.back() == '\n' ? "" : "\n") << "```\n\n";
    }
  }
  void Raw(const std::string& text) { os_ << text; }
  std::string str() const { return os_.str(); }
  bool html() const { return html_; }

 private:
  bool html_;
  std::ostringstream os_;
};

std::string MilliAmperes(int32_t points, double sum) {
  return points == 0 ? "-" : ShortestReal(std::sqrt(sum / points) * kMilliampere, 4);
}

const char kStyle[] =
    "body{font-family:sans-serif;margin:2em;max-width:1100px;color:#222}"
    "table{border-collapse:collapse;margin:0.5em 0 1.5em}"
    "th,td{border:1px solid #bbb;padding:0.2em 0.6em}th{background:#eee}td.n{text-align:right}"
    "figure{margin:1em 0}img{max-width:100%;border:1px solid #ddd}"
    "pre{background:#f6f6f6;padding:0.8em;overflow-x:auto;font-size:0.85em}";

}  // namespace

std::string ReportPageText(const ReportContent& c) {
  const Settings& s = *c.settings;
  const ParamSet& ps = *c.ps;
  const ModelInfo& model = ModelInfoFor(s.iModel);
  const FitErrors& errors = *c.errors;
  const std::string family = model.code < 0 ? "unknown" : FamilyName(model.family);
  const std::string title = s.ModelName + ": " + TubeWords(s.TubeType) + ", " + family + " model";
  Page page(s.Report == ReportFormat::kHtml);
  if (page.html()) {
    page.Raw("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + Html(title) +
             "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n");
  }
  page.Heading(1, title);

  std::string files;
  for (int f = 1; f <= s.DataFile.count(); ++f) files += (f == 1 ? "" : ", ") + s.DataFile[f] + ".utd";
  std::vector<Row> summary = {
      {"Tube", std::string(1, s.TubeType) + " (" + TubeWords(s.TubeType) + ")"},
      {"Model", family + " (model code " + RenderI(s.iModel, 0) + ")"},
      {"Minimiser", s.minimiser == Minimiser::kLm ? "Levenberg-Marquardt" : "direction set (powell)"},
      {"Measurement files", files},
      {"Fit window", "Va Ia < " + ShortestReal(s.Pmax, 6) + " W, Ia + Is < " + ShortestReal(s.Icmax * 1e3, 6) + " mA"},
      {"Points in the fit", RenderI(errors.total.points, 0)},
      {"R2 (sum of squared errors)", RoundTripFloat(errors.R2) + " A^2"},
      {"RMS error of Ia", MilliAmperes(errors.total.points, errors.total.sum_ia) + " mA"},
  };
  if (errors.screen) summary.push_back({"RMS error of Is", MilliAmperes(errors.total.points, errors.total.sum_is) + " mA"});
  page.Table({"fit", ""}, summary, 2);

  page.Heading(2, "Parameters");
  std::vector<Row> params;
  std::string undetermined;
  for (int32_t i = 1; i <= ps.NFit && i <= MxNP; ++i) {
    const std::string name = TrimRight(ps.name[static_cast<size_t>(i)]);
    const float sv = c.SV[static_cast<size_t>(i)];
    params.push_back({name, RoundTripFloat(ps.P[static_cast<size_t>(i)]),
                      std::isfinite(sv) ? ShortestReal(sv, 4) : "undefined"});
    if (std::fabs(sv) > 100.0f) undetermined += (undetermined.empty() ? "" : ", ") + name;
  }
  page.Table({"parameter", "value", "standard variance (%)"}, params);
  page.Paragraph(undetermined.empty()
                     ? "The data determine every parameter (no standard variance above 100 %)."
                     : "The data do not determine " + undetermined +
                           " (standard variance above 100 %): other values fit as well.");

  page.Heading(2, "Fit errors per curve");
  const bool g3 = s.TubeType == 'H' || s.TubeType == 'F';
  Row head = {"file", "Vg1 (V)"};
  if (g3) head.push_back("Vg3 (V)");
  head.insert(head.end(), {"points", "Ia RMS (mA)", "Ia max (mA)"});
  if (errors.screen) head.insert(head.end(), {"Is RMS (mA)", "Is max (mA)"});
  std::vector<Row> curves;
  auto add = [&](const std::string& file, const std::string& vg1, const std::string& vg3, const CurveErrors& e) {
    Row row = {file, vg1};
    if (g3) row.push_back(vg3);
    row.push_back(RenderI(e.points, 0));
    row.push_back(MilliAmperes(e.points, e.sum_ia));
    row.push_back(e.points == 0 ? "-" : ShortestReal(e.max_ia * kMilliampere, 4));
    if (errors.screen) {
      row.push_back(MilliAmperes(e.points, e.sum_is));
      row.push_back(e.points == 0 ? "-" : ShortestReal(e.max_is * kMilliampere, 4));
    }
    curves.push_back(row);
  };
  for (const CurveErrors& e : errors.curves) add(s.DataFile[e.file], ShortestReal(e.Vg1, 5), ShortestReal(e.Vg3, 5), e);
  add("all", "", "", errors.total);
  page.Table(head, curves);

  if (!c.operating.empty()) {
    page.Heading(2, "Operating point");
    page.Paragraph("Small-signal values of the fitted model at " + c.operating.front().value +
                   " (gm = dIa/dVg1, ra = 1/(dIa/dVa), mu = gm ra):");
    std::vector<Row> rows;
    for (size_t k = 1; k < c.operating.size(); ++k) rows.push_back({c.operating[k].name, c.operating[k].value});
    page.Table({"quantity", "value"}, rows);
  }

  if (page.html()) {
    page.Heading(2, "Plots");
    if (!c.plot_problem.empty()) page.Paragraph("Plots missing: " + c.plot_problem + ".");
    for (const RenderedPlot& plot : c.plots) {
      page.Raw("<figure><img alt=\"" + Html(plot.caption) + "\" src=\"data:image/svg+xml;base64," + Base64(plot.svg) +
               "\"><figcaption>" + Html(plot.caption) + "</figcaption></figure>\n");
    }
  }

  page.Heading(2, "Subcircuit " + c.subcircuit_file);
  std::vector<Row> pins;
  int node = 0;
  for (const SpicePin& pin : SpicePins(model.writer)) pins.push_back({RenderI(++node, 0), pin.label, pin.electrode});
  page.Paragraph("Pin order of the subcircuit " + s.ModelName + " (tube type " + std::string(1, s.TubeType) + "):");
  page.Table({"node", "pin", "electrode"}, pins, 3);
  page.Preformatted(c.subcircuit_text);
  if (page.html()) page.Raw("</body>\n</html>\n");
  return page.str();
}

void WriteReportPage(ReportContent content, std::ostream& console) {
  const Settings& s = *content.settings;
  const bool html = s.Report == ReportFormat::kHtml;
  if (html) content.plots = RenderSvgPlots(s, *content.ms, *content.errors, content.plot_problem);
  std::ifstream in(content.subcircuit_file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  content.subcircuit_text = text.str();
  const std::string name = s.ModelName + (html ? ".html" : ".md");
  WriteTextFile(name, ReportPageText(content));
  if (!content.plot_problem.empty()) WriteList(console, {"The report has no plots: " + content.plot_problem + "."});
  WriteList(console, {"Fit report page written to file " + name});
}

}  // namespace tubefit
