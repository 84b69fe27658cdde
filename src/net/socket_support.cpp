#include "net/socket_support.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "platform/socket_errors.h"

namespace pellan {

namespace {

struct BuiltInRecord {
  int number = 0;
  std::string source;
  std::string description;
};

SocketReporting g_reporting;
BuiltInRecord g_record;

std::unordered_map<int, CSocket*>& Table() {
  static std::unordered_map<int, CSocket*> table;
  return table;
}

std::string SystemResolveFamily(const std::string& name, int family, int* error) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    *error = rc != 0 ? SocketErrorFromResolver(rc, errno) : kWsaHostNotFound;
    if (result) freeaddrinfo(result);
    return std::string();
  }
  sockaddr_storage address{};
  std::memcpy(&address, result->ai_addr, std::min<size_t>(result->ai_addrlen, sizeof address));
  freeaddrinfo(result);
  *error = 0;
  return AddressText(address);
}

// IPv4 first, as before; a name with only IPv6 addresses gives its first.
std::string SystemResolve(const std::string& name, int* error) {
  int v4Error = 0, v6Error = 0;
  std::string address = SystemResolveFamily(name, AF_INET, &v4Error);
  if (address.empty()) address = SystemResolveFamily(name, AF_INET6, &v6Error);
  if (error) *error = address.empty() ? v4Error : 0;
  return address;
}

}  // namespace

void SetSocketReporting(SocketReporting reporting) { g_reporting = std::move(reporting); }

void SocketRaiseError(const std::string& source, int number, const std::string& description) {
  if (g_reporting.raise) {
    g_reporting.raise(source, number, description);
    return;
  }
  g_record.number = number;
  g_record.source = source;
  g_record.description = description;
}

void SocketLog(const std::string& line) {
  if (g_reporting.log) g_reporting.log(line);
}

int LastSocketLayerErrorNumber() { return g_record.number; }
std::string LastSocketLayerErrorSource() { return g_record.source; }
void ClearSocketLayerError() { g_record = BuiltInRecord{}; }

std::string ResolveHost(const std::string& name, int* error) {
  if (IsDottedAddress(name) || IsIpv6Address(name)) {
    if (error) *error = 0;
    return name;
  }
  return SystemResolve(name, error);
}

std::string ReverseLookup(const std::string& dottedAddress) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  if (inet_pton(AF_INET, dottedAddress.c_str(), &sin.sin_addr) != 1) return std::string();
  char host[NI_MAXHOST] = {};
  if (getnameinfo(reinterpret_cast<sockaddr*>(&sin), sizeof sin, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0) {
    return std::string();
  }
  return host;
}

void RegisterSocket(int handle, CSocket* socket) { Table()[handle] = socket; }
void UnregisterSocket(int handle) { Table().erase(handle); }
CSocket* FindSocket(int handle) {
  auto it = Table().find(handle);
  return it == Table().end() ? nullptr : it->second;
}
int RegisteredSocketCount() { return static_cast<int>(Table().size()); }

bool IsDottedAddress(const std::string& text) {
  in_addr a{};
  return !text.empty() && inet_aton(text.c_str(), &a) != 0;
}

bool IsIpv6Address(const std::string& text) {
  in6_addr a{};
  return inet_pton(AF_INET6, text.c_str(), &a) == 1;
}

bool MakeSocketAddress(const std::string& address, long port, SocketAddress* out) {
  *out = SocketAddress{};
  if (auto* v4 = reinterpret_cast<sockaddr_in*>(&out->storage); inet_aton(address.c_str(), &v4->sin_addr) != 0) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    out->length = sizeof(sockaddr_in);
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&out->storage);
  if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) != 1) return false;
  v6->sin6_family = AF_INET6;
  v6->sin6_port = htons(static_cast<uint16_t>(port));
  out->length = sizeof(sockaddr_in6);
  return true;
}

std::string AddressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
  }
  return text;
}

long AddressPort(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return 0;
}

}  // namespace pellan
