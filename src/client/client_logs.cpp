#include "client/client_logs.h"

#include <cstdio>

#include "client/client_files.h"
#include "client/companion_files.h"
#include "platform/date_text.h"
#include "platform/front_end.h"

namespace pellan::client {

std::string LogTimeMark() { return "   {   " + NowText() + "   }   "; }

std::string ClientLogs::FilePath(const std::string& name) const { return CompanionFiles(m_folder).Path(name); }

namespace {

// The message without the dates and times ("YYYY-MM-DD HH:MM:SS") in it.
std::string WithoutTimes(const std::string& message) {
  static const char kShape[] = "0000-00-00 00:00:00";
  const size_t n = sizeof kShape - 1;
  std::string out;
  for (size_t i = 0; i < message.size();) {
    bool time = i + n <= message.size();
    for (size_t k = 0; time && k < n; ++k) {
      const char c = message[i + k];
      time = kShape[k] == '0' ? (c >= '0' && c <= '9') : c == kShape[k];
    }
    if (time) {
      i += n;
    } else {
      out += message[i++];
    }
  }
  return out;
}

}  // namespace

void ClientLogs::AppendCapped(const std::string& name, const std::string& entry) const {
  const std::string path = FilePath(name);
  if (LocalFileSize(path) > kSizeLimit && std::rename(path.c_str(), (path + ".1").c_str()) != 0) {
    DeleteFileIfExists(path);
  }
  SaveTextFile(path, entry, false);
}

void ClientLogs::Append(const std::string& name, const std::string& message) const {
  Fold& f = m_folds[name];
  const std::string key = WithoutTimes(message);
  const auto repeats = [&](size_t period) {
    return period > 0 && period <= f.keys.size() && f.keys[f.keys.size() - period] == key;
  };
  for (size_t p = 1; f.period == 0 && p <= kMaxFold; ++p) f.period = repeats(p) ? p : 0;
  const bool held = repeats(f.period);
  f.keys.push_back(key);
  if (f.keys.size() > kMaxFold) f.keys.pop_front();
  if (held) {
    f.held.push_back(message + LogTimeMark());
    if (f.held.size() == f.period) {
      ++f.repeats;
      f.held.clear();
      f.lastTime = NowText();
    }
    return;
  }
  if (f.repeats > 0) {
    AppendCapped(name, "(the " + std::to_string(f.period) + " line(s) before repeated " +
                           std::to_string(f.repeats) + " more time(s), the last at " + f.lastTime + ")" +
                           LogTimeMark());
  }
  for (const std::string& entry : f.held) AppendCapped(name, entry);
  f.held.clear();
  f.period = 0;
  f.repeats = 0;
  AppendCapped(name, message + LogTimeMark());
}

void ClientLogs::WriteLog(const std::string& message) const {
  if (m_logOn) Append(kRunLogFile, message);
}

void ClientLogs::WriteMSG(const std::string& message) const {
  if (m_logOn) Append(kMessageLogFile, message);
}

void ClientLogs::WriteError(const std::string& procedure, const std::string& message, bool show) const {
  if (!m_logOn) return;
  if (show) CurrentFrontEnd().MessageBox(message, m_messageTitle, kMbOkOnly);
  const std::string prefix = TrimBlanks(procedure).empty() ? std::string() : "[" + procedure + "]";
  Append(kErrorLogFile, prefix + message);
}

bool ClientLogs::WriteConnectLog(bool success, const std::string& text) const {
  const std::string path = FilePath(success ? kSuccFile : kErrFile);
  DeleteFileIfExists(path);
  return SaveTextFile(path, text, true);
}

}  // namespace pellan::client
