// Gives the process's error record a clean state and a log file in a scratch
// folder for a test's lifetime, and puts the old record back afterwards.
#pragma once

#include <string>

#include "support/error_record.h"
#include "support/test_env.h"

namespace pellan::test {

class ErrorRecordScope {
 public:
  ErrorRecordScope() : m_saved(SharedErrorRecord()) {
    SharedErrorRecord() = CError();
    SharedErrorRecord().SetLogFilePath(LogPath());
  }
  ~ErrorRecordScope() { SharedErrorRecord() = m_saved; }
  ErrorRecordScope(const ErrorRecordScope&) = delete;
  ErrorRecordScope& operator=(const ErrorRecordScope&) = delete;

  CError& Record() { return SharedErrorRecord(); }
  std::string LogPath() const { return m_dir.File("TolvarFtp.Log"); }
  std::string Log() const { return ReadWholeFile(LogPath()); }

 private:
  TempDir m_dir;
  CError m_saved;
};

}  // namespace pellan::test
