// The sync client's own small file helpers: whole-line text files in the
// process code page, existence tests and local path rules.
//
// Unlike the engine's CFile these never touch the process's error record:
// the FTP control reads its ErrorNumber from that record, and a status file
// the client failed to write must not look like an FTP error. A failure here
// is simply a false (or empty) result; the client's callers ignore it, as a
// lost log line or status file must never stop the session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellan::client {

// Text without blanks (spaces and tabs) at either end.
std::string TrimBlanks(const std::string& text);

// Writes `text` followed by CR LF, replacing the file (`overWrite`) or
// appending to it, creating it when missing. A file without owner write
// permission gets it for the write and its old mode back afterwards, so a
// read-only status file can still be rewritten. False on any failure.
bool SaveTextFile(const std::string& path, const std::string& text, bool overWrite);

// Line `lineNumber` (from 1) of the file, "" when it has fewer lines; with 0,
// all lines joined by CR LF and none after the last. Lines end at LF or
// CR LF (a file written by hand on this platform has bare LFs). "" when the
// file cannot be read; only regular files are opened.
std::string ReadTextFile(const std::string& path, int lineNumber);

// The lines of a text split at CR LF or LF; a final line end opens no
// further line.
std::vector<std::string> SplitLines(const std::string& text);

// A regular file at the trimmed path.
bool ExistFile(const std::string& path);
// The trimmed path is not empty and names a folder.
bool ExistFolder(const std::string& path);
// Removes a regular file; false when there was none or it could not go.
bool DeleteFileIfExists(const std::string& path);
// The size of a regular file in bytes, -1 when there is none.
int64_t LocalFileSize(const std::string& path);

// The trimmed path with every "\" turned into "/" and doubled "/" collapsed.
std::string NormalizePath(const std::string& path);
// The last component of a folder path after NormalizePath and after one
// trailing "/" is dropped: "/data/in/" and "/data//in" give "in". "" for the
// root "/" and for a bare name without any "/".
std::string GetFolderName(const std::string& path);

}  // namespace pellan::client
