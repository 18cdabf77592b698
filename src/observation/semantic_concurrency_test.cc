// One semantic detector called from several threads at once: every call
// gets its own answer, the shadow-mode counters add up exactly, and each
// transition is logged once however the calls interleave.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "observation/semantic.h"
#include "observation/sidecar_port_test_util.h"
#include "support/json.h"
#include "support/log.h"

namespace tarnwick_observation {
namespace {

using tarnwick_support::LogLevel;

constexpr int kThreads = 4;
constexpr int kCallsPerThread = 15;
constexpr int kCalls = kThreads * kCallsPerThread;

// A sidecar on 127.0.0.1:8081 that gives every request the same answer, one
// connection at a time.
class FixedSidecar {
 public:
  explicit FixedSidecar(std::string response) : response_(std::move(response)) {
    fd_ = testing::listen_on_sidecar_port(64, &error_);
    if (fd_ < 0) return;
    thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
  }
  ~FixedSidecar() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  bool listening() const { return fd_ >= 0; }
  std::string bind_failure() const { return "cannot listen on 127.0.0.1:8081: " + error_; }

 private:
  void serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      const int conn = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      std::string request;
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd c{conn, POLLIN, 0};
        char buf[4096];
        if (::poll(&c, 1, 2000) <= 0) break;
        const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
      }
      (void)::send(conn, response_.data(), response_.size(), MSG_NOSIGNAL);
      ::shutdown(conn, SHUT_WR);
      ::close(conn);
    }
  }

  std::string response_;
  int fd_ = -1;
  std::string error_;
  std::jthread thread_;
};

class CountingSink : public tarnwick_support::LogSink {
 public:
  void log(LogLevel level, std::string_view, std::string_view message) override {
    std::lock_guard lock(mu_);
    messages_.push_back(std::string(level == LogLevel::kWarn ? "WARN " : "INFO ") +
                        std::string(message));
  }
  int count_starting(std::string_view prefix) {
    std::lock_guard lock(mu_);
    int n = 0;
    for (const std::string& m : messages_) n += m.starts_with(prefix) ? 1 : 0;
    return n;
  }
  void clear() {
    std::lock_guard lock(mu_);
    messages_.clear();
  }

 private:
  std::mutex mu_;
  std::vector<std::string> messages_;
};

std::string http(std::string_view status, std::string_view body) {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + std::string(body);
}

// Runs kCalls detect calls on kThreads threads; returns how many reported.
int detect_concurrently(const SemanticDetector& detector) {
  std::atomic<int> detections{0};
  std::vector<std::jthread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsPerThread; ++i) {
        ToolCallEvent e;
        e.thread_id = "thread-" + std::to_string(t);
        e.tool_name = "search";
        e.arguments = tarnwick_support::JsonValue(static_cast<int64_t>(i));
        if (detector.detect(e, {})) detections.fetch_add(1);
      }
    });
  }
  threads.clear();  // joins
  return detections.load();
}

class SemanticConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override { tarnwick_support::install_log_sink(&sink_); }
  void TearDown() override { tarnwick_support::install_log_sink(nullptr); }
  CountingSink sink_;
};

TEST_F(SemanticConcurrencyTest, SharedShadowStateCountsEveryCallAndLogsTransitionsOnce) {
  const SemanticDetector detector{SemanticSidecarClient{}};

  {  // Nothing listens: one unreachable warning, every call counted.
    EXPECT_EQ(detect_concurrently(detector), 0);
    const SidecarShadowMetrics m = detector.client().shadow_metrics();
    EXPECT_TRUE(m.active);
    EXPECT_EQ(m.failed_calls, uint64_t{kCalls});
    EXPECT_EQ(sink_.count_starting("WARN Semantic sidecar unreachable"), 1);
  }
  {  // Error answers: a warning each, every call counted on top.
    FixedSidecar server(http("503 Service Unavailable", ""));
    ASSERT_TRUE(server.listening()) << server.bind_failure();
    sink_.clear();
    EXPECT_EQ(detect_concurrently(detector), 0);
    EXPECT_EQ(detector.client().shadow_metrics().failed_calls, uint64_t{2 * kCalls});
    EXPECT_EQ(sink_.count_starting("WARN Semantic sidecar returned status 503"), kCalls);
  }
  {  // Loops reported: every call detects, one recovery event.
    FixedSidecar server(http("200 OK", R"({"loop_detected":true})"));
    ASSERT_TRUE(server.listening()) << server.bind_failure();
    sink_.clear();
    EXPECT_EQ(detect_concurrently(detector), kCalls);
    EXPECT_EQ(detector.client().shadow_metrics(), SidecarShadowMetrics{});
    EXPECT_EQ(sink_.count_starting("INFO Semantic sidecar recovered"), 1);
  }
}

}  // namespace
}  // namespace tarnwick_observation
