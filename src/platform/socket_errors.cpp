#include "platform/socket_errors.h"

#include <netdb.h>

#include <cerrno>

namespace pellan {

int SocketErrorFromErrno(int err) {
  switch (err) {
    case 0: return 0;
    case EINTR: return kWsaEintr;
    case EACCES:
    case EPERM: return kWsaEacces;
    case EFAULT: return kWsaEfault;
    case EINVAL: return kWsaEinval;
    case EMFILE:
    case ENFILE: return kWsaEmfile;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS: return kWsaEwouldblock;
    case EALREADY: return kWsaEalready;
    case ENOTSOCK:
    case EBADF: return kWsaEnotsock;
    case EDESTADDRREQ: return kWsaEdestaddrreq;
    case EMSGSIZE: return kWsaEmsgsize;
    case EPROTOTYPE: return kWsaEprototype;
    case ENOPROTOOPT: return kWsaEnoprotoopt;
    case EPROTONOSUPPORT: return kWsaEprotonosupport;
    case ESOCKTNOSUPPORT: return kWsaEsocktnosupport;
    case EOPNOTSUPP: return kWsaEopnotsupp;
    case EPFNOSUPPORT: return kWsaEpfnosupport;
    case EAFNOSUPPORT: return kWsaEafnosupport;
    case EADDRINUSE: return kWsaEaddrinuse;
    case EADDRNOTAVAIL: return kWsaEaddrnotavail;
    case ENETDOWN: return kWsaEnetdown;
    case ENETUNREACH: return kWsaEnetunreach;
    case ENETRESET: return kWsaEnetreset;
    case ECONNABORTED: return kWsaEconnaborted;
    case ECONNRESET:
    case EPIPE: return kWsaEconnreset;
    case ENOBUFS:
    case ENOMEM: return kWsaEnobufs;
    case EISCONN: return kWsaEisconn;
    case ENOTCONN: return kWsaEnotconn;
    case ESHUTDOWN: return kWsaEshutdown;
    case ETIMEDOUT: return kWsaEtimedout;
    case ECONNREFUSED: return kWsaEconnrefused;
    case EHOSTDOWN: return kWsaEhostdown;
    case EHOSTUNREACH: return kWsaEhostunreach;
    default: return kWsaSyscallfailure;
  }
}

int SocketErrorFromResolver(int eaiCode, int err) {
  switch (eaiCode) {
    case 0: return 0;
    case EAI_NONAME:
    case EAI_SERVICE: return kWsaHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA: return kWsaNoData;
#endif
    case EAI_AGAIN: return kWsaTryAgain;
    case EAI_FAIL: return kWsaNoRecovery;
    case EAI_ADDRFAMILY: return kWsaNoData;
    case EAI_MEMORY: return kWsaEnobufs;
    case EAI_SYSTEM: return err ? SocketErrorFromErrno(err) : kWsaNoRecovery;
    default: return kWsaNoRecovery;
  }
}

}  // namespace pellan
