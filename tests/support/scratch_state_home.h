// Including this header points XDG_STATE_HOME at a scratch folder for the
// whole test program (removed at exit), so that nothing a test does can put
// the engine's log into the real home folder.
#pragma once

#include <stdlib.h>

#include "support/test_env.h"

namespace pellan::test {

class ScratchStateHome {
 public:
  ScratchStateHome() { setenv("XDG_STATE_HOME", m_dir.Path().c_str(), 1); }

 private:
  TempDir m_dir;
};

inline ScratchStateHome g_scratchStateHome;

}  // namespace pellan::test
