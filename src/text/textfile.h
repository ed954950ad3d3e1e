// Small file helpers shared by every reader and writer.
#pragma once

#include <istream>
#include <string>

namespace tubefit {

// True if the file named by the name without trailing blanks is a regular file (not a directory, named pipe
// or device; a symbolic link counts as what it points to) and can be opened for reading. Never creates a file.
bool FileExists(const std::string& name);

// Reads one record (one line) from the stream into `record`, without its line end ("\n" or "\r\n").
// Returns false at end of file.
bool ReadRecord(std::istream& in, std::string& record);

// Removes the UTF-8 byte-order mark that some editors (Notepad) write at the start of a file, from the
// first record of a file.
void DropByteOrderMark(std::string& first_record);

// The trimmed line of a record: at most its first 132 characters, cut at the first "!", without trailing
// blanks and TABs.
std::string TrimmedLine(const std::string& record);

// Writes the whole text to the file: first to a temporary file beside it, then renamed over the old file, so
// a failed write never leaves a half-written file in place of a good one. A file that cannot be written
// stops the run with a message that names it.
void WriteTextFile(const std::string& path, const std::string& text);

}  // namespace tubefit
