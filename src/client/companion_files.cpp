#include "client/companion_files.h"

#include <cstdio>

#include "client/client_files.h"

namespace pellan::client {

std::string CompanionFiles::Path(const std::string& name) const {
  if (m_folder.empty() || m_folder.back() == '/') return m_folder + name;
  return m_folder + "/" + name;
}

bool CompanionFiles::Exists(const std::string& name) const { return ExistFile(Path(name)); }

void CompanionFiles::Remove(const std::string& name) const { DeleteFileIfExists(Path(name)); }

bool CompanionFiles::WriteEmptyLine(const std::string& name) const { return SaveTextFile(Path(name), "", true); }

void CompanionFiles::ResetStatusFiles() const {
  for (const char* name : {kSuccFile, kErrFile, kCloFile, kRedoFile, kStopFile, kCanFile}) Remove(name);
}

void CompanionFiles::WriteActivationRequest() const { SaveTextFile(Path(kCalFile), " ", true); }

bool CompanionFiles::TakeActivationRequest() const {
  if (!Exists(kCalFile)) return false;
  Remove(kRunFile);
  std::rename(Path(kCalFile).c_str(), Path(kRunFile).c_str());
  return true;
}

void CompanionFiles::RemoveActivationFiles() const {
  Remove(kCalFile);
  Remove(kRunFile);
}

}  // namespace pellan::client
