// The semantic detector's sidecar attempt, next to a raw-socket baseline
// doing the same exchange in the same program: build the request body,
// connect to 127.0.0.1:8081, send the same POST, read the answer, close.
//
//   ClosedPort   nothing listens: the attempt ends with a refused connect
//   LiveSidecar  a minimal sidecar on a thread of this program answers
//                {"loop_detected":false} and closes after the client does
//
// Both need port 8081 for themselves: the closed-port cases skip when
// something listens there, the live ones when the port cannot be bound.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "bench_data.h"
#include "observation/event.h"
#include "observation/semantic.h"
#include "support/json.h"

namespace {

using tarnwick_observation::SemanticDetector;
using tarnwick_observation::SemanticSidecarClient;
using tarnwick_observation::ToolCallEvent;

constexpr uint16_t kPort = 8081;
constexpr std::string_view kAnswer = "{\"loop_detected\":false}";

sockaddr_in sidecar_address() {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(kPort);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

ToolCallEvent sample_event() {
  auto args = tarnwick_support::parse_json(tarnwick_bench::argument_text(160));
  return ToolCallEvent::started("run-1", 7, "search",
                                args ? std::move(*args) : tarnwick_support::JsonValue());
}

bool port_is_closed() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = sidecar_address();
  const bool refused =
      ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno == ECONNREFUSED;
  ::close(fd);
  return refused;
}

// Reads from `fd` until the header block and `Content-Length` bytes of body
// have arrived (or the peer closes); returns what was read, or nothing on an
// error.
std::optional<std::string> read_message(int fd) {
  std::string in;
  char buffer[4096];
  size_t needed = std::string::npos;
  for (;;) {
    if (needed == std::string::npos) {
      const size_t end = in.find("\r\n\r\n");
      if (end != std::string::npos) {
        size_t length = 0;
        constexpr std::string_view kLength = "content-length:";
        for (size_t at = 0; at < end;) {
          const size_t eol = in.find("\r\n", at);
          std::string line = in.substr(at, eol - at);
          for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          if (line.starts_with(kLength)) length = std::stoul(line.substr(kLength.size()));
          at = eol + 2;
        }
        needed = end + 4 + length;
      }
    }
    if (needed != std::string::npos && in.size() >= needed) return in;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return in;
    in.append(buffer, static_cast<size_t>(n));
  }
}

// A minimal sidecar: one connection at a time, one answer per connection.
class LoopbackSidecar {
 public:
  LoopbackSidecar() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr = sidecar_address();
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 64) != 0) {
      ::close(listen_fd_);
      listen_fd_ = -1;
      return;
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackSidecar() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }
  LoopbackSidecar(const LoopbackSidecar&) = delete;
  LoopbackSidecar& operator=(const LoopbackSidecar&) = delete;

  bool listening() const { return listen_fd_ >= 0; }

 private:
  void serve() {
    std::string response = "HTTP/1.1 200 OK\r\ncontent-type: application/json\r\ncontent-length: ";
    response += std::to_string(kAnswer.size());
    response += "\r\n\r\n";
    response += kAnswer;
    while (!stop_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      if (read_message(fd)) {
        (void)::send(fd, response.data(), response.size(), MSG_NOSIGNAL);
        // Wait for the client to close first, so that the closed connections
        // linger on the client's side, where loopback ports are reused.
        char sink[256];
        pollfd c{fd, POLLIN, 0};
        while (::poll(&c, 1, 1000) > 0 && ::recv(fd, sink, sizeof sink, 0) > 0) {
        }
      }
      ::close(fd);
    }
  }

  int listen_fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The request the detector sends, as curl writes it.
std::string raw_request(const std::string& body) {
  std::string request = "POST /analyze HTTP/1.1\r\nHost: 127.0.0.1:8081\r\n";
  request += "content-type: application/json\r\naccept: */*\r\ncontent-length: ";
  request += std::to_string(body.size());
  request += "\r\n\r\n";
  request += body;
  return request;
}

// The baseline: the same exchange on a plain socket. Returns whether the
// answer reported a loop; nothing when there was no answer.
std::optional<bool> raw_exchange(const ToolCallEvent& event) {
  const std::string request = raw_request(tarnwick_observation::sidecar_request_body(event));
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr = sidecar_address();
  std::optional<bool> loop;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    if (auto answer = read_message(fd)) {
      const size_t body = answer->find("\r\n\r\n");
      if (answer->starts_with("HTTP/1.1 2") && body != std::string::npos) {
        auto json = tarnwick_support::parse_json(std::string_view(*answer).substr(body + 4));
        if (json) {
          const auto* object = json->if_object();
          const auto* member = object ? object->find("loop_detected") : nullptr;
          loop = member != nullptr && member->is_bool() && member->as_bool();
        }
      }
    }
  }
  ::close(fd);
  return loop;
}

void BM_SemanticDetect_ClosedPort(benchmark::State& state) {
  if (!port_is_closed()) {
    state.SkipWithError("something listens on 127.0.0.1:8081");
    return;
  }
  SemanticDetector detector{SemanticSidecarClient{}};
  const ToolCallEvent event = sample_event();
  for (auto _ : state) benchmark::DoNotOptimize(detector.detect(event, {}));
  if (!detector.client().shadow_metrics().active) state.SkipWithError("shadow mode not entered");
}
BENCHMARK(BM_SemanticDetect_ClosedPort)->MinTime(0.5)->UseRealTime();

void BM_RawSocket_ClosedPort(benchmark::State& state) {
  if (!port_is_closed()) {
    state.SkipWithError("something listens on 127.0.0.1:8081");
    return;
  }
  const ToolCallEvent event = sample_event();
  for (auto _ : state) benchmark::DoNotOptimize(raw_exchange(event));
}
BENCHMARK(BM_RawSocket_ClosedPort)->MinTime(0.5)->UseRealTime();

void BM_SemanticDetect_LiveSidecar(benchmark::State& state) {
  LoopbackSidecar sidecar;
  if (!sidecar.listening()) {
    state.SkipWithError("cannot listen on 127.0.0.1:8081");
    return;
  }
  SemanticDetector detector{SemanticSidecarClient{}};
  const ToolCallEvent event = sample_event();
  for (auto _ : state) benchmark::DoNotOptimize(detector.detect(event, {}));
  if (detector.client().shadow_metrics().failed_calls != 0) {
    state.SkipWithError("the sidecar did not answer every call");
  }
}
BENCHMARK(BM_SemanticDetect_LiveSidecar)->MinTime(0.5)->UseRealTime();

void BM_RawSocket_LiveSidecar(benchmark::State& state) {
  LoopbackSidecar sidecar;
  if (!sidecar.listening()) {
    state.SkipWithError("cannot listen on 127.0.0.1:8081");
    return;
  }
  const ToolCallEvent event = sample_event();
  benchmark::IterationCount answered = 0;
  for (auto _ : state) answered += raw_exchange(event).has_value();
  if (answered != state.iterations()) state.SkipWithError("the sidecar did not answer every call");
}
BENCHMARK(BM_RawSocket_LiveSidecar)->MinTime(0.5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
