// File: sidecar_port_test_util.h
//
// For tests that play the semantic sidecar: a listening socket on the
// sidecar's fixed address, 127.0.0.1:8081.

#ifndef TARNWICK_OBSERVATION_SIDECAR_PORT_TEST_UTIL_H_
#define TARNWICK_OBSERVATION_SIDECAR_PORT_TEST_UTIL_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace tarnwick_observation::testing {

// Returns a socket listening on 127.0.0.1:8081, or -1 with the reason in
// `*error` (typically: another process holds the port).
inline int listen_on_sidecar_port(int backlog, std::string* error) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(8081);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, backlog) != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace tarnwick_observation::testing

#endif  // TARNWICK_OBSERVATION_SIDECAR_PORT_TEST_UTIL_H_
