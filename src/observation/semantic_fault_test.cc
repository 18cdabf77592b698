// Hostile sidecars: servers that never answer, trickle, flood, reset, speak
// garbage or answer HTTP/1.0 without a length. Every call must end within the
// client's time bounds (500 ms for the headers, 500 ms again for the body),
// report nothing, move the shadow state exactly as the failure class says
// (unreachable: enter shadow mode; unreadable 2xx body: no change;
// well-formed answer: leave it) and leave no socket behind.

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "observation/semantic.h"
#include "observation/sidecar_port_test_util.h"
#include "support/json.h"

namespace tarnwick_observation {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What one call may cost at most: the header wait plus the body wait, and
// scheduling slack for loaded or sanitized builds.
constexpr auto kCallBound = 1000ms + 500ms;

bool send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Waits until the client closes its end (or the test stops the server).
void until_client_leaves(int fd, std::stop_token stop) {
  while (!stop.stop_requested()) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0) continue;
    char buf[4096];
    if (::recv(fd, buf, sizeof buf, 0) <= 0) return;
  }
}

// Closes with a TCP reset instead of an orderly shutdown.
void reset(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

using Reply = std::function<void(int fd, std::stop_token stop)>;

// A sidecar on 127.0.0.1:8081 that reads each request head and answers every
// connection with the same reply; `served()` counts closed connections.
class FaultySidecar {
 public:
  explicit FaultySidecar(Reply reply) : reply_(std::move(reply)) {
    listen_fd_ = testing::listen_on_sidecar_port(8, &error_);
    if (listen_fd_ < 0) return;
    thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
  }
  ~FaultySidecar() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }

  bool listening() const { return listen_fd_ >= 0; }
  std::string bind_failure() const {
    return "cannot listen on 127.0.0.1:8081 (" + error_ + "); is another sidecar running?";
  }
  // Waits until `n` connections have been served and closed.
  bool wait_served(int n) const {
    const auto end = Clock::now() + 5s;
    while (served_.load() < n) {
      if (Clock::now() > end) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

 private:
  void serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      read_head(fd);
      reply_(fd, stop);
      ::close(fd);
      served_.fetch_add(1);
    }
  }

  // Reads up to the end of the request head; the small body follows in the
  // same packets and is left to the kernel.
  static void read_head(int fd) {
    std::string data;
    while (data.find("\r\n\r\n") == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) return;
      char buf[4096];
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      data.append(buf, static_cast<size_t>(n));
    }
  }

  Reply reply_;
  int listen_fd_ = -1;
  std::string error_;
  std::atomic<int> served_{0};
  std::jthread thread_;
};

int open_descriptors() {
  int n = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++n;
    ::closedir(dir);
  }
  return n;
}

// How a fault moves the shadow state.
enum class Effect {
  kUnreachable,  // enters shadow mode; failed_calls + 1
  kUnreadable,   // no change
  kAnswer,       // a well-formed answer: leaves shadow mode, counters 0
};

struct FaultCase {
  const char* name;
  Reply reply;
  Effect effect;
};

// Readable form for failure messages.
std::string describe(const SidecarShadowMetrics& m) {
  return std::string(m.active ? "shadow" : "normal") + ", failed_calls " +
         std::to_string(m.failed_calls) + ", would_have_caught " +
         std::to_string(m.would_have_caught);
}

SidecarShadowMetrics expected_after(SidecarShadowMetrics before, Effect effect) {
  switch (effect) {
    case Effect::kUnreachable:
      before.failed_calls += 1;
      before.active = true;
      return before;
    case Effect::kUnreadable: return before;
    case Effect::kAnswer: return SidecarShadowMetrics{};
  }
  return before;
}

Reply head_then(std::string head, std::function<void(int, std::stop_token)> rest) {
  return [head = std::move(head), rest = std::move(rest)](int fd, std::stop_token stop) {
    if (send_all(fd, head)) rest(fd, stop);
  };
}

// Sends `total` bytes: `prefix`, then 'x' in 64 KiB chunks, until the client
// stops reading.
void flood(int fd, std::string_view prefix, size_t total) {
  if (!send_all(fd, prefix)) return;
  const std::string chunk(64 * 1024, 'x');
  for (size_t sent = prefix.size(); sent < total; sent += chunk.size()) {
    if (!send_all(fd, std::string_view(chunk).substr(0, std::min(chunk.size(), total - sent)))) {
      return;
    }
  }
}

// Sends `body` a byte every 50 ms: the whole body would take longer than the
// body timeout.
void trickle(int fd, std::string_view body, std::stop_token stop) {
  for (char c : body) {
    if (stop.stop_requested() || !send_all(fd, std::string_view(&c, 1))) return;
    std::this_thread::sleep_for(50ms);
  }
}

constexpr size_t k100MiB = size_t{100} << 20;
// Valid JSON only if it were ever complete, which it is not.
constexpr std::string_view kLoopPrefix = R"({"loop_detected":true,"pad":")";
constexpr std::string_view kLoopBody = R"({"loop_detected":true})";

std::vector<FaultCase> fault_cases() {
  return {
      {"accepts and never answers", until_client_leaves, Effect::kUnreachable},
      {"headers, then the body trickles past the timeout",
       head_then("HTTP/1.1 200 OK\r\nContent-Length: 22\r\n\r\n",
                 [](int fd, std::stop_token stop) { trickle(fd, kLoopBody, stop); }),
       Effect::kUnreadable},
      {"sends 100 MB with its length announced",
       head_then("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(k100MiB) + "\r\n\r\n",
                 [](int fd, std::stop_token) { flood(fd, kLoopPrefix, k100MiB); }),
       Effect::kUnreadable},
      {"sends 100 MB until it closes",
       head_then("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n",
                 [](int fd, std::stop_token) { flood(fd, kLoopPrefix, k100MiB); }),
       Effect::kUnreadable},
      {"sends 100 MB of headers",
       [](int fd, std::stop_token) { flood(fd, "HTTP/1.1 200 OK\r\nX-Pad: ", k100MiB); },
       Effect::kUnreachable},
      {"resets the connection before answering", [](int fd, std::stop_token) { reset(fd); },
       Effect::kUnreachable},
      {"resets the connection inside the body",
       head_then("HTTP/1.1 200 OK\r\nContent-Length: 22\r\n\r\n{\"loop_detected\"",
                 [](int fd, std::stop_token) {
                   std::this_thread::sleep_for(20ms);
                   reset(fd);
                 }),
       Effect::kUnreadable},
      {"speaks garbage",
       [](int fd, std::stop_token stop) {
         send_all(fd, std::string("\x16\x03\x01\x00\xff garbage \xfe\r\n\r\n", 20));
         until_client_leaves(fd, stop);
       },
       Effect::kUnreachable},
      {"answers HTTP/1.0 without a length and closes",
       head_then("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n",
                 [](int fd, std::stop_token) { send_all(fd, R"({"loop_detected":false})"); }),
       Effect::kAnswer},
      {"answers HTTP/1.0 without a length and never closes",
       head_then("HTTP/1.0 200 OK\r\n\r\n",
                 [](int fd, std::stop_token stop) {
                   send_all(fd, kLoopBody);
                   until_client_leaves(fd, stop);
                 }),
       Effect::kUnreadable},
  };
}

ToolCallEvent search_event() {
  ToolCallEvent e;
  e.thread_id = "run-1";
  e.tool_name = "search";
  e.arguments = *tarnwick_support::parse_json(R"({"q":"x"})");
  return e;
}

// Puts the detector into shadow mode with one error answer.
void enter_shadow_mode(const SemanticDetector& detector) {
  FaultySidecar server([](int fd, std::stop_token) {
    send_all(fd, "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n");
  });
  ASSERT_TRUE(server.listening()) << server.bind_failure();
  EXPECT_FALSE(detector.detect(search_event(), {}).has_value());
  ASSERT_TRUE(detector.client().shadow_metrics().active);
}

// The first call on a thread sets up that thread's HTTP client handles, which
// stay for the thread's life; make it before descriptors are counted.
void warm_up() {
  const SemanticDetector detector{SemanticSidecarClient{}};
  (void)detector.detect(search_event(), {});
}

// Every fault, met once in the normal state and once in shadow mode.
TEST(SemanticFaultTest, HostileSidecarsAreBoundedChangeStateByClassAndLeakNothing) {
  warm_up();
  for (bool in_shadow : {false, true}) {
    for (const FaultCase& c : fault_cases()) {
      SCOPED_TRACE(std::string(c.name) + (in_shadow ? ", in shadow mode" : ", normal state"));
      const SemanticDetector detector{SemanticSidecarClient{}};
      if (in_shadow) enter_shadow_mode(detector);
      if (::testing::Test::HasFatalFailure()) return;
      const SidecarShadowMetrics before = detector.client().shadow_metrics();

      FaultySidecar server(c.reply);
      ASSERT_TRUE(server.listening()) << server.bind_failure();
      const int descriptors = open_descriptors();
      const auto start = Clock::now();
      const std::optional<Detection> detection = detector.detect(search_event(), {});
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);

      EXPECT_FALSE(detection.has_value());
      EXPECT_LT(took, kCallBound);
      EXPECT_EQ(describe(detector.client().shadow_metrics()),
                describe(expected_after(before, c.effect)));
      ASSERT_TRUE(server.wait_served(1)) << "the server never saw the client leave";
      EXPECT_EQ(open_descriptors(), descriptors) << "a socket outlived the call";
      if (!in_shadow) std::cout << "[  bound   ] " << c.name << ": " << took.count() << " ms\n";
    }
  }
}

// Faults one after another on one detector: shadow mode is entered once,
// unreadable answers leave it alone, and the first well-formed answer ends it.
TEST(SemanticFaultTest, FaultSequenceOnOneDetector) {
  const SemanticDetector detector{SemanticSidecarClient{}};
  const std::vector<FaultCase> cases = fault_cases();
  SidecarShadowMetrics expected;
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    FaultySidecar server(c.reply);
    ASSERT_TRUE(server.listening()) << server.bind_failure();
    EXPECT_FALSE(detector.detect(search_event(), {}).has_value());
    expected = expected_after(expected, c.effect);
    EXPECT_EQ(describe(detector.client().shadow_metrics()), describe(expected));
  }
}

}  // namespace
}  // namespace tarnwick_observation
