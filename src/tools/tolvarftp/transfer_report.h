// What get and put show while they run: on a terminal, one progress line
// redrawn in place (file name, bar, percent, speed, time left, position in
// the queue) and a line of its own for each file once it is done; anywhere
// else only the line per finished file, so logs stay readable.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace pellan {
class FtpLibrary;
}

namespace pellan::tool {

// One sample of the control's progress values.
struct TransferSnapshot {
  std::string source;  // the file being sent or fetched
  std::string target;  // where it goes
  long percent = 0;
  double transferred = 0;
  double size = 0;
  long speed = 0;     // bytes per second, 0 before the first second
  long leftTime = 0;  // seconds
  long queueIndex = 0;
  long queueTotal = 0;
  std::string state;  // the control's transfer state text (retry notices)
};

// "512 B/s", "12.3 KB/s", "1.5 MB/s", "1.02 GB/s" (units of 1024).
std::string FormatRate(long bytesPerSecond);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(long seconds);
// The progress line, at most `width` characters: the source's file name
// (shortened from the left when it does not fit), a bar, the percent,
// speed and time left once known, and "i/n".
std::string FormatProgressLine(const TransferSnapshot& s, size_t width);
// "got REMOTE -> LOCAL, N bytes (i/n)" or "put LOCAL -> REMOTE, ...".
std::string FormatFinishedLine(const TransferSnapshot& s, bool download);

class TransferReport {
 public:
  // `terminal`: draw the progress line on `out` (stderr) as well.
  TransferReport(FtpLibrary& ftp, bool download, bool terminal, std::FILE* out);
  // Called from the control's OnTransfer.
  void Update();
  // The verb ended: on success every file it touched is complete.
  void Finish(bool succeeded);

 private:
  void PrintFinished();
  void Draw(const std::string& line);
  void ClearLine();

  FtpLibrary& m_ftp;
  bool m_download;
  bool m_terminal;
  std::FILE* m_out;
  TransferSnapshot m_current;
  bool m_haveCurrent = false;
  bool m_currentPrinted = false;
  size_t m_drawnWidth = 0;
  long m_drawnPercent = -1;
  std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace pellan::tool
