#include "tools/tolvarftp/transfer_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "ftp/ftp_library.h"

namespace pellan::tool {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr size_t kBarWidth = 20;

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

size_t TerminalWidth(std::FILE* out) {
  winsize ws{};
  if (ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20) return ws.ws_col;
  return 80;
}

}  // namespace

std::string FormatRate(long bytesPerSecond) {
  static const char* const kUnits[] = {"KB/s", "MB/s", "GB/s"};
  if (bytesPerSecond < 1024) return std::to_string(std::max(0L, bytesPerSecond)) + " B/s";
  double v = static_cast<double>(bytesPerSecond) / 1024.0;
  size_t unit = 0;
  while (v >= 1024.0 && unit + 1 < std::size(kUnits)) {
    v /= 1024.0;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, v < 10 ? "%.2f %s" : v < 100 ? "%.1f %s" : "%.0f %s", v, kUnits[unit]);
  return buf;
}

std::string FormatDuration(long seconds) {
  if (seconds < 0) seconds = 0;
  char buf[32];
  if (seconds >= 3600) {
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%ld:%02ld", seconds / 60, seconds % 60);
  }
  return buf;
}

std::string FormatProgressLine(const TransferSnapshot& s, size_t width) {
  const long percent = std::clamp(s.percent, 0L, 100L);
  std::string bar(kBarWidth, ' ');
  const size_t filled = static_cast<size_t>(percent) * kBarWidth / 100;
  std::fill(bar.begin(), bar.begin() + static_cast<std::ptrdiff_t>(filled), '=');
  if (filled < kBarWidth && percent > 0) bar[filled] = '>';

  char pct[8];
  std::snprintf(pct, sizeof pct, "%3ld%%", percent);
  std::string tail = " [" + bar + "] " + pct;
  if (!s.state.empty()) {
    tail += "  " + s.state;
  } else if (s.speed > 0) {
    tail += "  " + FormatRate(s.speed) + "  " + FormatDuration(s.leftTime) + " left";
  }
  if (s.queueTotal > 0) tail += "  " + std::to_string(s.queueIndex) + "/" + std::to_string(s.queueTotal);

  std::string name = BaseName(s.source);
  const size_t room = width > tail.size() + 8 ? width - tail.size() : 8;
  if (name.size() > room) name = "..." + name.substr(name.size() - (room - 3));
  std::string line = name + tail;
  if (line.size() > width) line.resize(width);
  return line;
}

std::string FormatFinishedLine(const TransferSnapshot& s, bool download) {
  const double bytes = s.size > 0 ? s.size : s.transferred;
  std::string line = std::string(download ? "got " : "put ") + s.source + " -> " + s.target + ", " +
                     std::to_string(static_cast<long long>(bytes)) + " bytes";
  if (s.queueTotal > 0) line += " (" + std::to_string(s.queueIndex) + "/" + std::to_string(s.queueTotal) + ")";
  return line;
}

TransferReport::TransferReport(FtpLibrary& ftp, bool download, bool terminal, std::FILE* out)
    : m_ftp(ftp), m_download(download), m_terminal(terminal), m_out(out) {}

void TransferReport::Update() {
  TransferSnapshot s;
  s.source = m_download ? m_ftp.RemotePath() : m_ftp.LocalPath();
  s.target = m_download ? m_ftp.LocalPath() : m_ftp.RemotePath();
  s.percent = m_ftp.Percent();
  s.transferred = m_ftp.TransferSize();
  s.size = m_ftp.FileSize();
  s.speed = m_ftp.Speed();
  s.leftTime = m_ftp.LeftTime();
  s.queueIndex = m_ftp.QueueIndex();
  s.queueTotal = m_ftp.QueueTotal();
  s.state = m_ftp.TransferState();

  // The queue moves to the next file only after the last one was complete.
  if (m_haveCurrent && (s.source != m_current.source || s.target != m_current.target)) {
    if (!m_currentPrinted) PrintFinished();
    m_currentPrinted = false;
    m_drawnPercent = -1;
  }
  m_current = s;
  m_haveCurrent = true;

  // Outside an operation, with no retry notice, the control reports a file
  // it has finished and the server has confirmed.
  if (m_ftp.Operation() == kOpNone && s.state.empty()) {
    if (!m_currentPrinted) PrintFinished();
    return;
  }
  if (!m_terminal || m_currentPrinted) return;
  const auto now = std::chrono::steady_clock::now();
  if (s.percent == m_drawnPercent && now - m_lastDraw < kRedrawInterval) return;
  m_drawnPercent = s.percent;
  m_lastDraw = now;
  Draw(FormatProgressLine(s, TerminalWidth(m_out) - 1));
}

void TransferReport::Finish(bool succeeded) {
  if (succeeded && m_haveCurrent && !m_currentPrinted) PrintFinished();
  ClearLine();
  std::fflush(m_out);
}

void TransferReport::PrintFinished() {
  ClearLine();
  std::fprintf(m_out, "%s\n", FormatFinishedLine(m_current, m_download).c_str());
  std::fflush(m_out);
  m_currentPrinted = true;
}

void TransferReport::Draw(const std::string& line) {
  // Blanks over what is left of a longer earlier line.
  std::string text = "\r" + line;
  if (line.size() < m_drawnWidth) text.append(m_drawnWidth - line.size(), ' ');
  std::fputs(text.c_str(), m_out);
  std::fflush(m_out);
  m_drawnWidth = line.size();
}

void TransferReport::ClearLine() {
  if (m_drawnWidth == 0) return;
  std::fprintf(m_out, "\r%*s\r", static_cast<int>(m_drawnWidth), "");
  m_drawnWidth = 0;
}

}  // namespace pellan::tool
