// What all sockets of the process share: the table from handles to socket
// objects, host-name resolution, and the bridge to the engine's error
// record and log.
#pragma once

#include <sys/socket.h>

#include <functional>
#include <string>

namespace pellan {

class CSocket;

// The socket layer's own error numbers.
enum SocketLayerError : int {
  kErrConnectFailed = 16006,     // the server closed before saying anything
  kErrHostnameRequired = 20001,
  kErrUnresolvableHost = 20002,
  kErrCreateWindow = 20050,
  kErrNoSocketHandle = 40006,    // send on a stream socket that has no handle
  kErrTlsHandshake = 20041,      // the TLS handshake failed
  kErrTlsCertificate = 20042,    // the server's certificate did not pass (TlsProblem says why)
};

// Where the socket layer records errors and writes log lines. The engine's
// error layer installs its own at start-up; until then errors are kept in a
// minimal record that `LastSocketLayerError*` reads (tests use it too).
struct SocketReporting {
  // Records an error as the engine's error record does (source, number,
  // description; an empty description means "the number's own text").
  std::function<void(const std::string& source, int number, const std::string& description)> raise;
  // Writes one line to the engine's log.
  std::function<void(const std::string& line)> log;
};
void SetSocketReporting(SocketReporting reporting);  // empty members: the built-in record
void SocketRaiseError(const std::string& source, int number, const std::string& description);
void SocketLog(const std::string& line);
int LastSocketLayerErrorNumber();
std::string LastSocketLayerErrorSource();
void ClearSocketLayerError();

// Host-name resolution: an address literal for `name` (a literal stands
// for itself; a name gives its first IPv4 address, else its first IPv6 one), or "" with a
// Windows Sockets error number in `error` (11001 when the name is unknown).
std::string ResolveHost(const std::string& name, int* error);

// The local host's name for an address, or "" when the resolver has none.
std::string ReverseLookup(const std::string& dottedAddress);

// The socket table: a handle maps to the object that owns it.
void RegisterSocket(int handle, CSocket* socket);
void UnregisterSocket(int handle);
CSocket* FindSocket(int handle);
int RegisteredSocketCount();

// True when `text` is a dotted IPv4 address (what inet_addr accepts as one).
bool IsDottedAddress(const std::string& text);
// True when `text` is an IPv6 address literal ("::1", without brackets).
bool IsIpv6Address(const std::string& text);

// The socket address of an address literal (IPv4 as IsDottedAddress takes
// it, or IPv6) and a port; false for anything else.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int Family() const { return storage.ss_family; }
};
bool MakeSocketAddress(const std::string& address, long port, SocketAddress* out);
// The address and port of a socket address ("" and 0 for another family).
std::string AddressText(const sockaddr_storage& address);
long AddressPort(const sockaddr_storage& address);

}  // namespace pellan
