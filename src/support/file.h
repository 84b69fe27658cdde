// The engine's file-system helpers: whole-file text writes and reads, file
// attributes, INI files, existence tests, local and FTP path normalisation,
// folder listing and creation, and 64-bit sizes as two 32-bit halves.
//
// Texts are program text (UTF-8); file contents are bytes in the process
// code page, decoded on read and encoded on write; lines are written with
// CR LF. A run-time failure (a missing file, an unreadable path) is recorded
// in the process's error record under the operation's name and logged
// there (CError::DealError), and the operation gives its empty result: "",
// 0 or false.
//
// Local paths use "/" (a "\" is turned into "/"); the only root is "/". Only
// regular files and real folders are ever opened or listed: links, FIFOs,
// devices and sockets are left alone (opening a FIFO blocks).
//
// Attributes use the Windows bits, as the engine's callers expect them:
// 1 read-only (no owner write permission), 2 hidden (the name starts with
// "."), 16 folder, and 128 for a file that has none of these. There is no
// system attribute.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellan {

enum FileAttribute : int {
  kAttrReadOnly = 1,
  kAttrHidden = 2,
  kAttrDirectory = 16,
  kAttrNormal = 128,
};

class CFile {
 public:
  // The number of the errors CreateFolder raises.
  static constexpr long kErrorNumber = 11111;

  // Writes `text` and CR LF, replacing the file (`overWrite`) or appending to
  // it, creating it when missing. A file without owner write permission gets
  // it for the write and its old mode back afterwards. False for an empty
  // path or a failure.
  bool WriteFile(const std::string& filePath, const std::string& text, bool overWrite) const;

  // Line `lineNumber` (from 1) of the file, "" when it has fewer lines; with
  // a number of 0 or less, all lines joined by CR LF (none after the last).
  // Lines end at CR LF, LF or CR.
  std::string ReadFile(const std::string& filePath, int lineNumber) const;

  // The attribute bits of a file or folder, 0 when there is none.
  long GetFileAttrib(const std::string& strFilePath) const;
  // Sets read-only (bit 1) on or off; the other bits cannot change here. False
  // when there is no such file or folder or the change fails.
  bool SetFileAttrib(const std::string& strFilePath, int intFileAttrib) const;

  // INI files, with the private-profile rules: section and key names compared
  // without letter case and without surrounding blanks, the first matching
  // section and key win, values trimmed and one pair of enclosing quotes
  // removed, lines starting with ";" ignored.
  //
  // The value of `key` in `section`, at most `size` - 1 bytes long (never
  // cutting a character), cut at a NUL; "" when anything is missing.
  std::string IniRead(const std::string& filePath, const std::string& section, const std::string& key,
                      int size) const;
  // Sets `key` = `value`, creating the file, section or key as needed and
  // keeping the rest of the file. A section, key or value that would break
  // the file's structure (a line end, a "]" in the section, a key with "=" or
  // starting with ";" or "[", see ini::CanWrite) is refused and logged, and
  // nothing is written. Always true.
  bool IniWrite(const std::string& filePath, const std::string& section, const std::string& key,
                const std::string& value) const;
  // Text rules, case-sensitive, on the file's lines joined by CR LF: removes
  // "[section]" + CR LF up to the next CR LF + "[" (or, for the last
  // section, to the end, together with the line ends before it) and writes
  // the rest back with a final CR LF. Always true.
  bool IniDeleteSection(const std::string& filePath, const std::string& section) const;
  // Every name between a "[" and the next "]" that is followed by CR LF, in
  // file order.
  std::vector<std::string> IniReadSection(const std::string& filePath) const;
  // True when "[section]" + CR LF occurs in the file's text.
  bool IniExistSection(const std::string& filePath, const std::string& section) const;

  // A regular file at the trimmed path (letter case as the file system has
  // it; a wildcard is just a character).
  bool FileExists(const std::string& filePath) const;
  // A folder at the trimmed path.
  bool FolderExists(const std::string& folderPath) const;

  // Creates an absolute local folder level by level; true when it exists
  // afterwards. An empty path raises 11111 "Please input filename!", a
  // relative one 11111 "Invalid Path[ ... ]", a failed creation 11111
  // "Failed to create directory[ ... ] !" (texts in the messages' current
  // language).
  bool CreateFolder(const std::string& folderPath) const;

  // Trimmed, "\" turned into "/", without the last "/" and what follows;
  // "" when that "/" is the first character or there is none.
  std::string GetParentFolderPath(const std::string& filePath) const;
  // Local path: trimmed, "\" turned into "/", doubled "/" collapsed.
  std::string FormatPath(const std::string& filePath) const;
  // FTP path: trimmed, "\" turned into "/", doubled "/" collapsed.
  std::string FormatFTPPath(const std::string& ftpPath) const;

  // Lists a local folder as entries each ended by "*": with `flag` 0 files
  // only, 1 folders only, any other value both with "|0" (file) or "|1"
  // (folder) after the path. `folderPath` is a folder ("/in/", the last "/"
  // may be missing) or a file pattern ("/in/*.txt": matching names, and
  // `flag` becomes 0 for the caller too). Names in byte order; all entries of
  // one level come before those of its subfolders (with `recursive`).
  // `dirs` receives the folders found ("/in/sub/", entry `dirCount` - 1 is the
  // last); `dirCount` is 0 on the top-level call. `extendName` is unused.
  std::string ListDirs(std::string folderPath, std::vector<std::string>& dirs, const std::string& extendName,
                       bool recursive, int& flag, int& dirCount) const;
  // The ListDirs text of a folder without its final "*".
  std::string GetFolderFilePath(const std::string& folderPath, bool recursive, int flag) const;

  // LongHigh * 2^32 + LongLow, the low half taken as unsigned.
  double Long2Size(int32_t longLow, int32_t longHigh) const;
  // The opposite: the size (rounded to a whole number) split into halves,
  // the low half as a 32-bit pattern. Sizes beyond ±2^63 give 0 and 0.
  void Size2Long(double size, int32_t& longLow, int32_t& longHigh) const;

 private:
  // Records a failure under `operation` in the process's error record (it
  // becomes the error being handled while it is logged).
  void Fail(const char* operation, int err) const;
  void FailWith(const char* operation, long number, const std::string& description) const;
  // The whole file as bytes; 0 or the errno of the failure. Only regular
  // files are read.
  int ReadBytes(const std::string& filePath, std::string& bytes) const;
  // Replaces or appends; `makeWritable` lends a file without owner write
  // permission that permission for the write. 0 or the errno of the failure.
  int WriteBytes(const std::string& filePath, const std::string& bytes, bool overWrite, bool makeWritable) const;
  // The file's lines joined by CR LF; a missing file is "" and logged unless
  // `quietWhenMissing`; other failures are logged under `operation`.
  std::string ReadJoinedLines(const std::string& filePath, const char* operation, bool quietWhenMissing) const;
};

// Writes all of `bytes` to `fd` (again after a signal or a short write);
// false on an error.
bool WriteAll(int fd, const std::string& bytes);

}  // namespace pellan
