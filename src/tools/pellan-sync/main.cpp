// pellan-sync: the unattended FTP folder-synchronisation client.
#include "client/startup.h"

int main(int argc, char** argv) { return pellan::client::RunSyncClient(argc, argv); }
