// What differs between the operating systems, one function per concern. platform_posix.cpp implements it for
// Linux and the other POSIX systems, platform_windows.cpp for Windows; the build takes one of the two.
// Starting programs is declared in plot/run_command.h and implemented in the same two files.
#pragma once

#include <string>

namespace tubefit {

// The number of this process, for names of temporary files that no other run uses at the same time.
long ProcessNumber();

// Replaces the file `to` by the file `from` in one step: `to` is either the old file or the whole new one,
// never missing or half written. Returns false if that failed (`from` is then left in place).
bool ReplaceFileAtomically(const std::string& from, const std::string& to);

// Today's date in local time.
void LocalDate(int& year, int& month, int& day);

// True if the name has a folder part (a path separator, on Windows also a drive letter).
bool HasFolderPart(const std::string& name);

// The position after the last path separator of the name (0 if it has none).
size_t FileNameStart(const std::string& name);

// Why this system cannot open a file of that name ("" if it can): on Windows the reserved device names
// (CON, NUL, COM1, ...) and the characters <>:"|?* and control characters; elsewhere every name is taken.
std::string UnopenableName(const std::string& name);

// Puts standard output and standard error in binary mode, so the console report has the same bytes (LF
// line ends) on every system; on Windows a console window is also switched to UTF-8 for the run, so names
// outside its code page show as written. Nothing to do on POSIX systems.
void UseBinaryConsole();

// Keeps the memory a run frees for its next allocations instead of handing it back to the system: every
// Levenberg-Marquardt solve allocates and frees its matrices, and the system would fault the same pages in
// again, zeroed, at the next solve. A run is short, so nothing is lost. Where the C library has no such
// setting, nothing is done.
void KeepFreedMemory();

// True if a started graphical program has somewhere to draw: on Windows always, elsewhere when DISPLAY or
// WAYLAND_DISPLAY is set.
bool DisplayAvailable();

}  // namespace tubefit
