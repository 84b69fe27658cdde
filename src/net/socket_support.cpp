#include "net/socket_support.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

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
Resolver g_resolver;

std::unordered_map<int, CSocket*>& Table() {
  static std::unordered_map<int, CSocket*> table;
  return table;
}

std::string SystemResolve(const std::string& name, int* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    if (error) *error = rc != 0 ? SocketErrorFromResolver(rc, errno) : kWsaHostNotFound;
    if (result) freeaddrinfo(result);
    return std::string();
  }
  char buf[INET_ADDRSTRLEN] = {};
  const auto* sin = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf);
  freeaddrinfo(result);
  if (error) *error = 0;
  return buf;
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

void SetResolver(Resolver resolver) { g_resolver = std::move(resolver); }

std::string ResolveHost(const std::string& name, int* error) {
  if (IsDottedAddress(name)) {
    if (error) *error = 0;
    return name;
  }
  return g_resolver ? g_resolver(name, error) : SystemResolve(name, error);
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

}  // namespace pellan
