#include "text/textfile.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "platform/platform.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

bool FileExists(const std::string& name) {
  const std::string path = TrimRight(name);
  if (path.empty()) return false;
  struct stat st {};
  // Only a regular file counts: a directory cannot be read as text, and opening a named pipe or a device
  // could wait for ever.
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(path);
  return in.is_open();
}

bool ReadRecord(std::istream& in, std::string& record) {
  if (!std::getline(in, record)) return false;
  if (!record.empty() && record.back() == '\r') record.pop_back();
  return true;
}

void DropByteOrderMark(std::string& first_record) {
  if (first_record.rfind("\xEF\xBB\xBF", 0) == 0) first_record.erase(0, 3);
}

std::string TrimmedLine(const std::string& record) {
  std::string line = record.substr(0, 132);
  const size_t bang = line.find('!');
  if (bang != std::string::npos) line.resize(bang);
  size_t n = line.size();
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\r')) --n;
  line.resize(n);
  return line;
}

void WriteTextFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp" + std::to_string(ProcessNumber());
  bool ok = false;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (out.is_open()) {
      out << text;
      out.flush();
      ok = static_cast<bool>(out);
    }
  }
  if (ok) ok = ReplaceFileAtomically(temp, path);
  if (!ok) {
    std::remove(temp.c_str());
    StopWithText("Execution halts", {ListDirected({"Cannot write file " + path + "."})});
  }
}

}  // namespace tubefit
