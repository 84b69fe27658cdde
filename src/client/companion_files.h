// The files shared with the companion program, all in the program folder.
// The companion never talks to the client in any other way.
//
//   succ.txt    client: the login succeeded (an empty line)
//   err.txt     client: the login failed (the control's error text)
//   can.txt     client: the operator cancelled a login
//   redo.txt    client: a retry of the login was started
//   stop.txt    client: the operator stopped the passes
//   clo.txt     client: it closed (after a cancel or an exit request, and
//               when its window closes after a failed login)
//   exit.txt    companion: asks the client to close (never removed by it)
//   plnrc.cal   a second copy of the client: asks the running one to come
//               to the front (one blank)
//   plnrc.run   client: the last activation request was taken (plnrc.cal
//               moved to this name)
//
// The status files are removed at start-up and before they are rewritten;
// "an empty line" is a file holding only CR LF.
#pragma once

#include <string>

namespace pellan::client {

inline constexpr char kSuccFile[] = "succ.txt";
inline constexpr char kErrFile[] = "err.txt";
inline constexpr char kCanFile[] = "can.txt";
inline constexpr char kRedoFile[] = "redo.txt";
inline constexpr char kStopFile[] = "stop.txt";
inline constexpr char kCloFile[] = "clo.txt";
inline constexpr char kExitFile[] = "exit.txt";
inline constexpr char kCalFile[] = "plnrc.cal";
inline constexpr char kRunFile[] = "plnrc.run";

// The path file and the client's logs, beside them.
inline constexpr char kPathFile[] = "maoph.txt";
inline constexpr char kRunLogFile[] = "plnrc.log";
inline constexpr char kErrorLogFile[] = "plnrc.err";
inline constexpr char kMessageLogFile[] = "plnrc.msg";
// Held (flock) by the running copy; a second copy finds it taken.
inline constexpr char kLockFile[] = "plnrc.lock";

class CompanionFiles {
 public:
  explicit CompanionFiles(std::string folder) : m_folder(std::move(folder)) {}

  const std::string& Folder() const { return m_folder; }
  // The full path of a file of the program folder.
  std::string Path(const std::string& name) const;
  bool Exists(const std::string& name) const;
  void Remove(const std::string& name) const;
  // Replaces the file with one empty line (CR LF); false (errno set) when
  // it could not be written.
  bool WriteEmptyLine(const std::string& name) const;

  // Start-up: removes succ.txt, err.txt, clo.txt, redo.txt, stop.txt and
  // can.txt, in this order.
  void ResetStatusFiles() const;

  // What a second copy leaves for the running one: plnrc.cal holding one
  // blank.
  void WriteActivationRequest() const;
  // Takes an activation request: when plnrc.cal exists, plnrc.run is
  // removed and plnrc.cal moved to that name. True when there was one.
  bool TakeActivationRequest() const;
  // At exit: neither file stays behind.
  void RemoveActivationFiles() const;

 private:
  std::string m_folder;
};

}  // namespace pellan::client
