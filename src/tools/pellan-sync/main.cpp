// pellan-sync: the unattended FTP folder-synchronisation client.
#include "client/startup.h"

#ifdef PELLAN_WITH_DESKTOP
#include "gui/desktop_host.h"

int main(int argc, char** argv) {
  pellan::gui::QtDesktopHost desktop;
  return pellan::client::RunSyncClient(argc, argv, &desktop);
}
#else
int main(int argc, char** argv) { return pellan::client::RunSyncClient(argc, argv); }
#endif
