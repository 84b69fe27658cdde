// How long GetFileListX takes over a listing of 10,000 lines, as a UNIX
// server and as a Windows server write it. Prints the figures; run a
// release build:  build/normal/bench/listing_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ftp/remote/listing_parser.h"

namespace {

constexpr int kLines = 10000;

std::string UnixListing() {
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::string text = "total 40000\r\n";
  char line[256];
  for (int i = 0; i < kLines; ++i) {
    const char kind = i % 50 == 0 ? 'd' : i % 97 == 0 ? 'l' : '-';
    const long long size = kind == 'd' ? 4096 : (i * 7919LL) % 6000000000LL;
    const char* month = kMonths[i % 12];
    const int day = i % 28 + 1;
    if (i % 3 == 0) {
      std::snprintf(line, sizeof line, "%crw-r--r--    1 1000       ftp        %12lld %s %2d  %d ", kind,
                    size, month, day, 2015 + i % 10);
    } else {
      std::snprintf(line, sizeof line, "%crw-r--r--    1 1000       ftp        %12lld %s %2d %02d:%02d ",
                    kind, size, month, day, i % 24, i % 60);
    }
    text += line;
    text += "R" + std::to_string(i) + " report of the week.txt";
    if (kind == 'l') text += " -> target/" + std::to_string(i);
    text += "\r\n";
  }
  return text;
}

std::string DosListing() {
  std::string text;
  char line[256];
  for (int i = 0; i < kLines; ++i) {
    const int hour = i % 12 + 1;
    if (i % 50 == 0) {
      std::snprintf(line, sizeof line, "%02d-%02d-%02d  %02d:%02d%s       <DIR>          ", i % 12 + 1,
                    i % 28 + 1, i % 100, hour, i % 60, i % 2 ? "PM" : "AM");
    } else {
      std::snprintf(line, sizeof line, "%02d-%02d-%02d  %02d:%02d%s %20lld ", i % 12 + 1, i % 28 + 1, i % 100,
                    hour, i % 60, i % 2 ? "PM" : "AM", (i * 7919LL) % 6000000000LL);
    }
    text += line;
    text += "R" + std::to_string(i) + " report of the week.txt\r\n";
  }
  return text;
}

void Run(const char* what, const std::string& text, int rounds) {
  std::vector<double> ms;
  size_t count = 0;
  for (int r = 0; r < rounds; ++r) {
    const auto start = std::chrono::steady_clock::now();
    const auto files = pellan::GetFileListX(text);
    const auto end = std::chrono::steady_clock::now();
    if (!files) {
      std::fprintf(stderr, "%s: listing not parsed\n", what);
      std::exit(1);
    }
    count = files->Count();
    ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(ms.begin(), ms.end());
  const double median = ms[ms.size() / 2];
  std::printf("%-5s %d lines (%zu entries, %.2f MB): median %.2f ms, best %.2f ms, %.0f lines/s, %.1f MB/s\n",
              what, kLines, count, text.size() / 1e6, median, ms.front(), kLines / (median / 1e3),
              text.size() / 1e6 / (median / 1e3));
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  Run("UNIX", UnixListing(), rounds);
  Run("DOS", DosListing(), rounds);
  return 0;
}
