#include "observation/semantic.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "observation/sidecar_port_test_util.h"
#include "support/json.h"
#include "support/log.h"

namespace tarnwick_observation {
namespace {

using namespace std::chrono_literals;
using tarnwick_support::JsonValue;
using tarnwick_support::LogLevel;
using tarnwick_support::parse_json;
using Ms = std::chrono::milliseconds;

constexpr char kWarnErrorTail[] = " \u2014 entering shadow mode (exact detection fallback)";
constexpr char kUnreachableHead[] = "Semantic sidecar unreachable (http://127.0.0.1:8081: ";
constexpr char kUnreachableTail[] =
    ") \u2014 entering shadow mode, using exact detection only. 0 loops would have been caught "
    "if sidecar were active.";
constexpr char kRecovered[] = "Semantic sidecar recovered \u2014 shadow mode deactivated";

ToolCallEvent make_event(std::string thread_id, std::string tool_name, JsonValue arguments) {
  ToolCallEvent e;
  e.thread_id = std::move(thread_id);
  e.tool_name = std::move(tool_name);
  e.payload = ToolCallPayload{arguments};
  e.arguments = std::move(arguments);
  return e;
}

ToolCallEvent search_event() { return make_event("run-1", "search", *parse_json(R"({"q":"x"})")); }

bool peer_closed(int fd) {
  char c;
  ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// Sleeps up to `d`; returns false early when a stop is requested or the
// client has hung up.
bool nap(std::stop_token stop, Ms d, int fd) {
  const auto end = std::chrono::steady_clock::now() + d;
  while (std::chrono::steady_clock::now() < end) {
    if (stop.stop_requested() || peer_closed(fd)) return false;
    std::this_thread::sleep_for(5ms);
  }
  return !stop.stop_requested();
}

bool send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// What the server does with one connection after reading its request.
using Reply = std::function<void(int fd, std::stop_token stop)>;

Reply raw(std::string bytes) {
  return [bytes = std::move(bytes)](int fd, std::stop_token) { send_all(fd, bytes); };
}

Reply answer(int status, std::string body, std::string reason = "X") {
  return raw("HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Length: " +
             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

// Reads the request, then says nothing until the test ends.
Reply silence() {
  return [](int fd, std::stop_token stop) { nap(stop, 5s, fd); };
}

// Sends `head` after `head_delay`, then `body` a byte every `interval`.
Reply trickle(Ms head_delay, std::string head, std::string body, Ms interval) {
  return [=](int fd, std::stop_token stop) {
    if (!nap(stop, head_delay, fd) || !send_all(fd, head)) return;
    for (char c : body) {
      if (!nap(stop, interval, fd) || !send_all(fd, std::string_view(&c, 1))) return;
    }
  };
}

// Sends `head` after `head_delay`, then all of `body` after `body_delay`.
Reply staged(Ms head_delay, std::string head, Ms body_delay, std::string body) {
  return [=](int fd, std::stop_token stop) {
    if (nap(stop, head_delay, fd) && send_all(fd, head) && nap(stop, body_delay, fd))
      send_all(fd, body);
  };
}

// A sidecar on 127.0.0.1:8081, inside the test process. Each accepted
// connection has its request read in full and recorded, then gets the next
// scripted reply (or is closed when none is left).
class ScriptedSidecar {
 public:
  ScriptedSidecar() {
    listen_fd_ = testing::listen_on_sidecar_port(16, &error_);
    if (listen_fd_ < 0) return;
    thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
  }
  ~ScriptedSidecar() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }

  bool listening() const { return listen_fd_ >= 0; }
  std::string bind_failure() const {
    return "the test sidecar cannot listen on 127.0.0.1:8081 (" + error_ +
           "); is the port taken by another process?";
  }

  void push(Reply reply, int times = 1) {
    std::lock_guard lock(mu_);
    for (int i = 0; i < times; ++i) replies_.push_back(reply);
  }
  std::vector<std::string> requests() {
    std::lock_guard lock(mu_);
    return requests_;
  }

 private:
  void serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::string request = read_request(fd);
      Reply reply;
      {
        std::lock_guard lock(mu_);
        requests_.push_back(request);
        if (!replies_.empty()) {
          reply = std::move(replies_.front());
          replies_.pop_front();
        }
      }
      if (reply) reply(fd, stop);
      ::shutdown(fd, SHUT_WR);
      ::close(fd);
    }
  }

  // The head up to the blank line and as many body bytes as Content-Length
  // announces.
  static std::string read_request(int fd) {
    std::string data;
    size_t want = std::string::npos;
    while (data.size() < want) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) break;
      char buf[4096];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      data.append(buf, static_cast<size_t>(n));
      size_t head_end = data.find("\r\n\r\n");
      if (want == std::string::npos && head_end != std::string::npos) {
        size_t length = 0;
        size_t at = data.find("Content-Length: ");
        if (at != std::string::npos && at < head_end) length = std::stoul(data.substr(at + 16));
        want = head_end + 4 + length;
      }
    }
    return data;
  }

  int listen_fd_ = -1;
  std::string error_;
  std::mutex mu_;
  std::deque<Reply> replies_;
  std::vector<std::string> requests_;
  std::jthread thread_;
};

struct LogRecord {
  LogLevel level;
  std::string target;
  std::string message;
};

class CapturingSink : public tarnwick_support::LogSink {
 public:
  void log(LogLevel level, std::string_view target, std::string_view message) override {
    std::lock_guard lock(mu_);
    records_.push_back({level, std::string(target), std::string(message)});
  }
  std::vector<LogRecord> take() {
    std::lock_guard lock(mu_);
    return std::exchange(records_, {});
  }

 private:
  std::mutex mu_;
  std::vector<LogRecord> records_;
};

// All tests share the fixed port 8081 and must not run concurrently.
class SemanticDetectorTest : public ::testing::Test {
 protected:
  void SetUp() override { tarnwick_support::install_log_sink(&sink_); }
  void TearDown() override { tarnwick_support::install_log_sink(nullptr); }

  SidecarShadowMetrics metrics() const { return detector_.client().shadow_metrics(); }
  std::optional<Detection> call() { return detector_.detect(search_event(), {}); }

  CapturingSink sink_;
  SemanticDetector detector_{SemanticSidecarClient{}};
};

#define START_SIDECAR(server) \
  ScriptedSidecar server;     \
  ASSERT_TRUE(server.listening()) << server.bind_failure()

std::string error_warning(std::string_view status) {
  return "Semantic sidecar returned status " + std::string(status) + kWarnErrorTail;
}

void expect_unreachable_warning(const LogRecord& r) {
  EXPECT_EQ(r.level, LogLevel::kWarn);
  EXPECT_EQ(r.target, "tarnwick_observation::detection");
  EXPECT_TRUE(r.message.starts_with(kUnreachableHead)) << r.message;
  EXPECT_TRUE(r.message.ends_with(kUnreachableTail)) << r.message;
  // The client's own description of the failure sits between the two.
  EXPECT_GT(r.message.size(), std::strlen(kUnreachableHead) + std::strlen(kUnreachableTail));
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

TEST(SemanticSidecarClientTest, DefaultsAreFixed) {
  SemanticSidecarClient client;
  EXPECT_EQ(client.endpoint(), "http://127.0.0.1:8081");
  EXPECT_EQ(client.timeout_ms(), 500u);
  EXPECT_EQ(client.confidence(), 0.85f);
  EXPECT_EQ(client.shadow_metrics(), SidecarShadowMetrics{});
  EXPECT_EQ(SemanticDetector(client).name(), "semantic");
}

TEST(SidecarRequestBodyTest, MembersAreEscapedCompactStringsInKeyOrder) {
  struct Case {
    const char* what;
    ToolCallEvent event;
    std::string body;
  };
  const Case cases[] = {
      {"arguments sent as their canonical compact text",
       make_event("t1", "search", *parse_json(R"({"b":2,"a":[1,"x"]})")),
       R"({"llm_error_response":"{\"a\":[1,\"x\"],\"b\":2}","session_id":"t1","tool_call":"search"})"},
      {"null arguments", make_event("t", "f", JsonValue()),
       R"({"llm_error_response":"null","session_id":"t","tool_call":"f"})"},
      {"non-object arguments with escapes inside",
       make_event("t", "f", JsonValue(std::string("a\"b\\c\n"))),
       R"({"llm_error_response":"\"a\\\"b\\\\c\\n\"","session_id":"t","tool_call":"f"})"},
      {"quotes, backslashes and control characters in the ids",
       make_event("say \"hi\"\\now\t\x01", "to\rol\x1f\b\f", *parse_json(R"({"k":"caf\u00e9"})")),
       "{\"llm_error_response\":\"{\\\"k\\\":\\\"caf\xc3\xa9\\\"}\","
       R"("session_id":"say \"hi\"\\now\t\u0001","tool_call":"to\rol\u001f\b\f"})"},
      {"empty texts", make_event("", "", JsonValue(true)),
       R"({"llm_error_response":"true","session_id":"","tool_call":""})"},
  };
  for (const Case& c : cases) {
    std::string body = sidecar_request_body(c.event);
    EXPECT_EQ(body, c.body) << c.what;
    // The body is itself JSON with exactly the three string members.
    auto parsed = parse_json(body);
    ASSERT_TRUE(parsed.has_value()) << c.what;
    ASSERT_TRUE(parsed->is_object()) << c.what;
    EXPECT_EQ(parsed->as_object().size(), 3u) << c.what;
    EXPECT_EQ(*parsed->as_object().find("session_id"), JsonValue(c.event.thread_id)) << c.what;
    EXPECT_EQ(*parsed->as_object().find("tool_call"), JsonValue(c.event.tool_name)) << c.what;
  }
}

TEST_F(SemanticDetectorTest, SendsExactlyThisRequest) {
  START_SIDECAR(server);
  server.push(answer(200, R"({"loop_detected":false})"));
  ToolCallEvent event =
      make_event("a\"b\\c\x02", "web.search", *parse_json(R"({"b":2,"a":[1,"x"]})"));
  detector_.detect(event, {});

  const std::string body =
      R"({"llm_error_response":"{\"a\":[1,\"x\"],\"b\":2}","session_id":"a\"b\\c\u0002","tool_call":"web.search"})";
  const std::string expected =
      "POST /analyze HTTP/1.1\r\n"
      "Host: 127.0.0.1:8081\r\n"
      "content-type: application/json\r\n"
      "accept: */*\r\n"
      "Content-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], expected);
}

TEST_F(SemanticDetectorTest, WellFormedAnswersReportOnlyLoopDetectedTrue) {
  START_SIDECAR(server);
  struct Case {
    int status;
    const char* body;
    bool loop;
  };
  const Case cases[] = {
      {200, R"({"loop_detected": true, "score": 0.2})", true},
      {201, R"({"loop_detected":true})", true},
      {299, R"( {"loop_detected":true} )", true},
      {200, R"({"loop_detected": false})", false},
      {200, R"({"loop_detected": "true"})", false},
      {200, R"({"loop_detected": 1})", false},
      {200, R"({"loop_detected": null})", false},
      {200, R"({"other": true})", false},
      {200, "{}", false},
      {200, "[]", false},
      {200, "true", false},
      {200, R"([{"loop_detected": true}])", false},
  };
  for (const Case& c : cases) {
    server.push(answer(c.status, c.body));
    std::optional<Detection> d = call();
    if (c.loop) {
      ASSERT_TRUE(d.has_value()) << c.status << " " << c.body;
      EXPECT_EQ(*d, Detection(SemanticRepeat{"search", 0.85f})) << c.body;
    } else {
      EXPECT_FALSE(d.has_value()) << c.status << " " << c.body;
    }
    EXPECT_EQ(metrics(), SidecarShadowMetrics{}) << c.body;
  }
  EXPECT_TRUE(sink_.take().empty());
}

// A 2xx answer whose body cannot be used neither enters nor leaves shadow
// mode, and logs nothing.
TEST_F(SemanticDetectorTest, UnusableSuccessBodiesChangeNothing) {
  START_SIDECAR(server);
  const std::string loop = R"({"loop_detected":true,"pad":")";
  auto padded = [&](size_t size) {
    return loop + std::string(size - loop.size() - 2, 'x') + "\"}";
  };
  const size_t mib = size_t{1} << 20;
  struct Case {
    const char* what;
    Reply reply;
  };
  const Case cases[] = {
      {"not JSON", answer(200, "loop_detected: true")},
      {"empty body", answer(200, "")},
      {"JSON followed by garbage", answer(200, R"({"loop_detected":true} x)")},
      {"body cut short", raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"loop_det")},
      {"announced body over 1 MiB", answer(200, padded(mib + 1))},
      {"close-delimited body over 1 MiB",
       raw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + padded(4 * mib))},
      {"chunked body over 1 MiB",
       raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100001\r\n" + padded(mib + 1) +
           "\r\n0\r\n\r\n")},
  };
  for (bool shadow : {false, true}) {
    for (const Case& c : cases) {
      SemanticDetector detector{SemanticSidecarClient{}};
      if (shadow) {
        server.push(answer(503, ""));
        detector.detect(search_event(), {});
        sink_.take();
      }
      const SidecarShadowMetrics before = detector.client().shadow_metrics();
      server.push(c.reply);
      EXPECT_FALSE(detector.detect(search_event(), {}).has_value()) << c.what;
      EXPECT_EQ(detector.client().shadow_metrics(), before) << c.what;
      EXPECT_TRUE(sink_.take().empty()) << c.what;
    }
  }
  // A body of exactly 1 MiB is still read.
  server.push(answer(200, padded(mib)));
  EXPECT_TRUE(call().has_value());
}

TEST_F(SemanticDetectorTest, ReadingStopsOnceTheBodyPassesTheLimit) {
  START_SIDECAR(server);
  // More than 1 MiB arrives at once, then the server holds the connection
  // open: only a reader that stops at the limit returns before the body
  // timeout.
  server.push(trickle(
      0ms,
      "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string((size_t{1} << 20) + 1024, ' '),
      "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 100ms));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(call().has_value());
  EXPECT_LT(seconds_since(start), 0.35);
}

TEST_F(SemanticDetectorTest, ErrorStatusesWarnEveryTimeWithTheReasonPhrase) {
  START_SIDECAR(server);
  struct Case {
    int status;
    const char* logged;
  };
  const Case cases[] = {
      {503, "503 Service Unavailable"},
      {500, "500 Internal Server Error"},
      {404, "404 Not Found"},
      {429, "429 Too Many Requests"},
      {600, "600 <unknown status code>"},
      {302, "302 Found"},
      {599, "599 <unknown status code>"},
      {304, "304 Not Modified"},
  };
  for (const Case& c : cases) {
    SemanticDetector detector{SemanticSidecarClient{}};
    // Even a reason text and a body that claims a loop are ignored.
    server.push(raw("HTTP/1.1 " + std::to_string(c.status) +
                    " Whatever\r\nLocation: http://127.0.0.1:8081/elsewhere\r\n"
                    "Content-Length: 22\r\n\r\n{\"loop_detected\":true}"),
                3);
    for (uint64_t i = 1; i <= 3; ++i) {
      EXPECT_FALSE(detector.detect(search_event(), {}).has_value()) << c.status;
      EXPECT_EQ(detector.client().shadow_metrics(), (SidecarShadowMetrics{i, 0, true})) << c.status;
    }
    std::vector<LogRecord> logs = sink_.take();
    ASSERT_EQ(logs.size(), 3u) << c.status;
    for (const LogRecord& r : logs) {
      EXPECT_EQ(r.level, LogLevel::kWarn);
      EXPECT_EQ(r.target, "tarnwick_observation::detection");
      EXPECT_EQ(r.message, error_warning(c.logged));
    }
  }
  // Redirects are never followed: one request per call.
  EXPECT_EQ(server.requests().size(), std::size(cases) * 3);
}

TEST_F(SemanticDetectorTest, ErrorStatusBodyIsNotRead) {
  START_SIDECAR(server);
  server.push(trickle(0ms, "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 1000\r\n\r\n",
                      std::string(1000, 'x'), 100ms));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(call().has_value());
  EXPECT_LT(seconds_since(start), 0.35);
  EXPECT_EQ(metrics(), (SidecarShadowMetrics{1, 0, true}));
}

TEST_F(SemanticDetectorTest, ShadowModeLifecycle) {
  {
    // Proves the port is free, so that nothing answers once this is gone.
    START_SIDECAR(probe);
  }
  EXPECT_FALSE(call().has_value());
  std::vector<LogRecord> logs = sink_.take();
  ASSERT_EQ(logs.size(), 1u);
  expect_unreachable_warning(logs[0]);
  EXPECT_EQ(metrics(), (SidecarShadowMetrics{1, 0, true}));

  // Still unreachable: counted, not logged.
  EXPECT_FALSE(call().has_value());
  EXPECT_FALSE(call().has_value());
  EXPECT_TRUE(sink_.take().empty());
  EXPECT_EQ(metrics(), (SidecarShadowMetrics{3, 0, true}));

  {
    START_SIDECAR(server);
    // An error status in shadow mode is still logged.
    server.push(answer(503, ""));
    EXPECT_FALSE(call().has_value());
    logs = sink_.take();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].message, error_warning("503 Service Unavailable"));
    EXPECT_EQ(metrics(), (SidecarShadowMetrics{4, 0, true}));

    // A well-formed answer without a loop ends shadow mode.
    server.push(answer(200, R"({"loop_detected": false})"));
    EXPECT_FALSE(call().has_value());
    logs = sink_.take();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].level, LogLevel::kInfo);
    EXPECT_EQ(logs[0].target, "tarnwick_observation::detection");
    EXPECT_EQ(logs[0].message, kRecovered);
    EXPECT_EQ(metrics(), SidecarShadowMetrics{});

    // Back in normal mode nothing more is logged.
    server.push(answer(200, R"({"loop_detected": true})"));
    EXPECT_TRUE(call().has_value());
    EXPECT_TRUE(sink_.take().empty());
    // Every call sent a request, in shadow mode too.
    EXPECT_EQ(server.requests().size(), 3u);
  }

  // Unreachable again after the recovery: warned again.
  EXPECT_FALSE(call().has_value());
  logs = sink_.take();
  ASSERT_EQ(logs.size(), 1u);
  expect_unreachable_warning(logs[0]);
  EXPECT_EQ(metrics(), (SidecarShadowMetrics{1, 0, true}));
}

TEST_F(SemanticDetectorTest, RecoveryWithALoopReportsIt) {
  START_SIDECAR(server);
  server.push(answer(500, ""));
  server.push(answer(200, R"({"loop_detected": true})"));
  EXPECT_FALSE(call().has_value());
  EXPECT_EQ(call(), Detection(SemanticRepeat{"search", 0.85f}));
  std::vector<LogRecord> logs = sink_.take();
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[1].message, kRecovered);
  EXPECT_EQ(metrics(), SidecarShadowMetrics{});
}

TEST_F(SemanticDetectorTest, MalformedResponsesCountAsUnreachable) {
  START_SIDECAR(server);
  const char* cases[] = {"garbage\r\n\r\n", "HTTP/1.1 abc\r\n\r\n", ""};
  for (const char* reply : cases) {
    SemanticDetector detector{SemanticSidecarClient{}};
    server.push(raw(reply));
    EXPECT_FALSE(detector.detect(search_event(), {}).has_value()) << reply;
    EXPECT_EQ(detector.client().shadow_metrics(), (SidecarShadowMetrics{1, 0, true})) << reply;
    std::vector<LogRecord> logs = sink_.take();
    ASSERT_EQ(logs.size(), 1u) << reply;
    expect_unreachable_warning(logs[0]);
  }
}

TEST_F(SemanticDetectorTest, SilentServerCostsOneTimeout) {
  START_SIDECAR(server);
  server.push(silence());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(call().has_value());
  const double took = seconds_since(start);
  EXPECT_GE(took, 0.45);
  EXPECT_LT(took, 1.5);
  std::vector<LogRecord> logs = sink_.take();
  ASSERT_EQ(logs.size(), 1u);
  expect_unreachable_warning(logs[0]);
  EXPECT_EQ(metrics(), (SidecarShadowMetrics{1, 0, true}));
}

TEST_F(SemanticDetectorTest, HeadersAndBodyHaveSeparateTimeouts) {
  START_SIDECAR(server);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 23\r\n\r\n";
  const std::string body = R"({"loop_detected": true})";

  // Headers after 300 ms, then a body that never completes: the body gets
  // 500 ms of its own and is then dropped as unreadable.
  server.push(trickle(300ms, head, body.substr(0, 10), 200ms));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(call().has_value());
  double took = seconds_since(start);
  EXPECT_GE(took, 0.75);
  EXPECT_LT(took, 1.5);
  EXPECT_EQ(metrics(), SidecarShadowMetrics{});
  EXPECT_TRUE(sink_.take().empty());

  // Headers after 350 ms and the body 350 ms later: each within its own
  // bound though the whole exchange takes longer than one.
  server.push(staged(350ms, head, 350ms, body));
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(call(), Detection(SemanticRepeat{"search", 0.85f}));
  EXPECT_GE(seconds_since(start), 0.65);
}

TEST_F(SemanticDetectorTest, ConcurrentCallsEachGetTheirAnswer) {
  START_SIDECAR(server);
  constexpr int kThreads = 4;
  constexpr int kCalls = 5;
  server.push(answer(200, R"({"loop_detected": true})"), kThreads * kCalls);
  std::atomic<int> detected{0};
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < kCalls; ++i) {
          if (call().has_value()) detected.fetch_add(1);
        }
      });
    }
  }
  EXPECT_EQ(detected.load(), kThreads * kCalls);
  EXPECT_EQ(server.requests().size(), static_cast<size_t>(kThreads * kCalls));
  EXPECT_TRUE(sink_.take().empty());
}

}  // namespace
}  // namespace tarnwick_observation
