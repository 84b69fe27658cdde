// FtpLibrary: the FTP client control. A host creates one, sets its
// properties, calls its operations and handles its four events; every
// operation looks synchronous because it runs the event loop while it waits,
// so socket events, the control's timers and the host's own handlers all run
// inside a call. Nothing throws across this boundary: an operation returns
// false (or a sentinel) and the reason is read from ErrorNumber/ErrorInfo.
//
// The control is built in layers, each a class in its own folder on the one
// below: the session (control and data connections, login, commands and
// replies, keep-alive, abort, errors) in session/, the remote folders and
// files (command operations, listings) in remote/, the transfers in
// transfer/. This class is their face to hosts: what it adds is the
// application's title and version, and the orderly end of a control.
#pragma once

#include <string>

#include "ftp/transfer/ftp_transfers.h"

namespace pellan {

class FtpLibrary : public FtpTransfers {
 public:
  FtpLibrary() = default;
  ~FtpLibrary() override;

  std::string Title() const;
  void SetTitle(const std::string& title);
  std::string Version() const;
};

}  // namespace pellan
