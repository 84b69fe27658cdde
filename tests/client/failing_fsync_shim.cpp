// Preloaded into pellan-sync by a test: every fsync fails, as on a failing
// disk.
#include <cerrno>

extern "C" int fsync(int) {
  errno = EIO;
  return -1;
}
