// The socket layer reports errors with the Windows Sockets numbers
// (10004..11004), so that error numbers and texts are the same on every
// platform. These functions map the system's errno values and resolver codes
// onto them.
#pragma once

namespace pellan {

enum SocketError : int {
  kWsaEintr = 10004,
  kWsaEacces = 10013,
  kWsaEfault = 10014,
  kWsaEinval = 10022,
  kWsaEmfile = 10024,
  kWsaEwouldblock = 10035,
  kWsaEinprogress = 10036,
  kWsaEalready = 10037,
  kWsaEnotsock = 10038,
  kWsaEdestaddrreq = 10039,
  kWsaEmsgsize = 10040,
  kWsaEprototype = 10041,
  kWsaEnoprotoopt = 10042,
  kWsaEprotonosupport = 10043,
  kWsaEsocktnosupport = 10044,
  kWsaEopnotsupp = 10045,
  kWsaEpfnosupport = 10046,
  kWsaEafnosupport = 10047,
  kWsaEaddrinuse = 10048,
  kWsaEaddrnotavail = 10049,
  kWsaEnetdown = 10050,
  kWsaEnetunreach = 10051,
  kWsaEnetreset = 10052,
  kWsaEconnaborted = 10053,
  kWsaEconnreset = 10054,
  kWsaEnobufs = 10055,
  kWsaEisconn = 10056,
  kWsaEnotconn = 10057,
  kWsaEshutdown = 10058,
  kWsaEtimedout = 10060,
  kWsaEconnrefused = 10061,
  kWsaEhostdown = 10064,
  kWsaEhostunreach = 10065,
  kWsaEproclim = 10067,
  kWsaSysnotready = 10091,
  kWsaVernotsupported = 10092,
  kWsaNotinitialised = 10093,
  kWsaEdiscon = 10101,
  kWsaSyscallfailure = 10107,
  kWsaTypeNotFound = 10109,
  kWsaHostNotFound = 11001,
  kWsaTryAgain = 11002,
  kWsaNoRecovery = 11003,
  kWsaNoData = 11004,
};

// errno -> Windows Sockets number. EAGAIN/EWOULDBLOCK and EINPROGRESS both
// give 10035: a non-blocking connect that is under way is the expected
// "would block" case, not an error. 0 gives 0; an errno without a socket
// meaning gives 10107 (system call failure).
int SocketErrorFromErrno(int err);

// getaddrinfo() result (EAI_*) -> Windows Sockets number (11001..11004); 0
// gives 0. `err` is errno at the time, for EAI_SYSTEM.
int SocketErrorFromResolver(int eaiCode, int err);

}  // namespace pellan
