// The Windows side of the platform functions: processes by CreateProcessW (no console window), files by
// MoveFileExW, dates by localtime_s. Names are passed in the system's ANSI code page, as the narrow C and
// C++ library functions that open the program's files take them.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "plot/run_command.h"

namespace tubefit {

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The file that starts as the program `name`: the name itself, else with ".exe" added when it has no
// extension. "" if neither is a file.
std::string ProgramFile(const std::string& name) {
  if (IsFile(name)) return name;
  const bool extension = name.find('.', FileNameStart(name)) != std::string::npos;
  if (!extension && IsFile(name + ".exe")) return name + ".exe";
  return "";
}

// The program to start for `name`: a name with a folder part as it is; a bare name in a folder of PATH,
// else in the folder where gnuplot's installer puts its programs. "" if none is found.
std::string FindProgram(const std::string& name) {
  if (name.empty()) return "";
  if (HasFolderPart(name)) return ProgramFile(name);
  std::vector<std::string> folders;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream list(path);
    std::string folder;
    while (std::getline(list, folder, ';'))
      if (!folder.empty()) folders.push_back(folder);
  }
  const char* program_files = std::getenv("ProgramFiles");
  folders.push_back(std::string(program_files != nullptr ? program_files : "C:\\Program Files") + "\\gnuplot\\bin");
  for (const std::string& folder : folders) {
    const std::string found = ProgramFile(folder + "\\" + name);
    if (!found.empty()) return found;
  }
  return "";
}

// One argument of a command line, quoted so that the started program's runtime reads it back unchanged
// (backslashes are literal except before a double quote).
std::wstring QuotedArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t ch : arg) {
    if (ch == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(ch == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(ch);
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

// A standard handle the started program can inherit (GetStdHandle's handles need not be inheritable).
HANDLE Inheritable(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}

bool ReservedDeviceName(std::string part) {
  // The device names count with any extension and with trailing blanks or dots: "con.txt", "NUL ".
  part = part.substr(0, part.find('.'));
  while (!part.empty() && part.back() == ' ') part.pop_back();
  for (char& ch : part) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (part == "CON" || part == "PRN" || part == "AUX" || part == "NUL" || part == "CONIN$" || part == "CONOUT$")
    return true;
  return part.size() == 4 && (part.compare(0, 3, "COM") == 0 || part.compare(0, 3, "LPT") == 0) &&
         part[3] >= '1' && part[3] <= '9';
}

// Waits for a started program to end and closes its handles; its exit status, or -1 when unknown.
int WaitForExit(PROCESS_INFORMATION& process) {
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  const BOOL known = GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return known ? static_cast<int>(status) : -1;
}

}  // namespace

int RunProgramArgs(const std::vector<std::string>& argv, ChildInput input) {
  if (argv.empty() || argv[0].empty()) return -1;
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) return -1;
  std::wstring command_line;
  for (const std::string& arg : argv) {
    if (!command_line.empty()) command_line += L' ';
    command_line += QuotedArgument(Widen(arg));
  }

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE null_input = INVALID_HANDLE_VALUE;
  if (input == ChildInput::kNull) {
    null_input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (null_input == INVALID_HANDLE_VALUE) return -1;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input == ChildInput::kNull ? null_input : Inheritable(GetStdHandle(STD_INPUT_HANDLE));
  startup.hStdOutput = Inheritable(GetStdHandle(STD_OUTPUT_HANDLE));
  startup.hStdError = Inheritable(GetStdHandle(STD_ERROR_HANDLE));
  PROCESS_INFORMATION process{};
  // CREATE_NO_WINDOW: a console program such as gnuplot.exe gets no console window of its own; its output
  // goes to this program's standard handles.
  const BOOL started = CreateProcessW(Widen(program).c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  if (null_input != INVALID_HANDLE_VALUE) CloseHandle(null_input);
  if (!started) return -1;
  return WaitForExit(process);
}

bool ProgramFound(const std::string& name) { return !FindProgram(name).empty(); }

int RunInFolder(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                const std::string& log) {
  if (program.empty() || !IsFile(program)) return -1;
  std::wstring command_line = QuotedArgument(Widen(program));
  for (const std::string& arg : args) command_line += L' ' + QuotedArgument(Widen(arg));
  const std::string log_path = HasFolderPart(log) ? log : folder + "\\" + log;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileW(Widen(log_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 127;
  HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(Widen(program).c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, Widen(folder).c_str(), &startup, &process);
  CloseHandle(out);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (!started) return 127;
  return WaitForExit(process);
}

std::string ThisProgramPath(const std::string& fallback) {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return fallback;
  return std::string(buffer, n);
}

long ProcessNumber() { return static_cast<long>(GetCurrentProcessId()); }

bool ReplaceFileAtomically(const std::string& from, const std::string& to) {
  return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void LocalDate(int& year, int& month, int& day) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
}

bool HasFolderPart(const std::string& name) {
  const bool drive = name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
  return drive || name.find_first_of("/\\") != std::string::npos;
}

size_t FileNameStart(const std::string& name) {
  const size_t separator = name.find_last_of("/\\");
  if (separator != std::string::npos) return separator + 1;
  const bool drive = name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
  return drive ? 2 : 0;
}

std::string UnopenableName(const std::string& name) {
  const bool drive = name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
  size_t start = drive ? 2 : 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    for (const char ch : part) {
      if (static_cast<unsigned char>(ch) < 32) return "it holds a control character";
      if (std::string("<>:\"|?*").find(ch) != std::string::npos)
        return std::string("Windows does not allow the character ") + ch + " in a file name";
    }
    if (ReservedDeviceName(part)) return part + " is a device name that Windows reserves";
    start = end + 1;
  }
  return "";
}

namespace {
UINT console_code_page = 0;  // the console window's output code page before the run, 0 if not changed
void RestoreConsoleCodePage() { SetConsoleOutputCP(console_code_page); }
}  // namespace

void UseBinaryConsole() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // The program's strings are UTF-8 (its manifest sets the process code page), so a console window shows
  // them in UTF-8 too; the window's own code page is given back when the run ends. Output that goes to a
  // file or a pipe has no console mode and is left alone.
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return;
  const UINT before = GetConsoleOutputCP();
  if (before == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  console_code_page = before;
  std::atexit(RestoreConsoleCodePage);
}

void KeepFreedMemory() {}

bool DisplayAvailable() { return true; }

}  // namespace tubefit
