#include "observation/sidecar_http.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick_observation::internal {

namespace {

using Clock = std::chrono::steady_clock;

// A header block beyond this size is not taken for an answer.
constexpr size_t kMaxHeaderBytes = 100 * 1024;
// Longest chunk-size or trailer line accepted in a chunked body.
constexpr size_t kMaxChunkLine = 4096;
constexpr size_t kReadBytes = 64 * 1024;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ci(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::optional<uint64_t> parse_decimal(std::string_view s) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

struct Url {
  std::string host;       // without brackets
  std::string port;       // decimal
  std::string authority;  // as written: the Host header
  std::string target;     // path and query
};

// "http://host[:port][/path]", host a name, an IPv4 literal or a bracketed
// IPv6 literal. The scheme is matched without regard to case.
std::optional<Url> parse_url(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (url.size() < kScheme.size() || !equal_ci(url.substr(0, kScheme.size()), kScheme)) {
    return std::nullopt;
  }
  std::string_view rest = url.substr(kScheme.size());
  const size_t end = rest.find_first_of("/?#");
  const std::string_view authority = rest.substr(0, end);
  std::string_view target = end == std::string_view::npos ? "/" : rest.substr(end);
  target = target.substr(0, target.find('#'));
  if (authority.empty() || authority.find_first_of("@ ") != std::string_view::npos) {
    return std::nullopt;
  }
  Url u;
  std::string_view port;
  if (authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    u.host = authority.substr(1, close - 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') return std::nullopt;
    if (!after.empty()) port = after.substr(1);
  } else {
    const size_t colon = authority.find(':');
    u.host = authority.substr(0, colon);
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (u.host.empty()) return std::nullopt;
  if (port.empty()) port = "80";
  const std::optional<uint64_t> number = parse_decimal(port);
  if (!number || *number == 0 || *number > 65535) return std::nullopt;
  u.port = std::to_string(*number);
  u.authority = authority;
  u.target = target.starts_with('?') ? "/" + std::string(target) : std::string(target);
  return u;
}

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket& operator=(Socket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

int millis_left(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
}

// Waits until `fd` is ready for `events`; false on timeout or failure.
bool wait_for(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const int left = millis_left(deadline);
    if (left == 0) return false;
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, left);
    if (rc > 0) return true;
    if (rc == 0) continue;  // re-checked against the deadline
    if (errno != EINTR) return false;
  }
}

struct Addresses {
  std::vector<sockaddr_storage> list;
  std::vector<socklen_t> sizes;
};

// Numeric hosts are read directly, which spares the resolver on the usual
// loopback endpoint; names go through the system resolver.
std::optional<Addresses> resolve(const Url& url) {
  Addresses out;
  sockaddr_storage storage{};
  const auto port = static_cast<uint16_t>(std::stoi(url.port));
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, url.host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    out.list.push_back(storage);
    out.sizes.push_back(sizeof(sockaddr_in));
    return out;
  }
  if (inet_pton(AF_INET6, url.host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    out.list.push_back(storage);
    out.sizes.push_back(sizeof(sockaddr_in6));
    return out;
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &found) != 0) return std::nullopt;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage s{};
    std::memcpy(&s, a->ai_addr, a->ai_addrlen);
    out.list.push_back(s);
    out.sizes.push_back(a->ai_addrlen);
  }
  ::freeaddrinfo(found);
  if (out.list.empty()) return std::nullopt;
  return out;
}

// A blocking connect bounded by the send timeout: a refused connection ends
// in four system calls, as few as any client can make.
std::variant<Socket, Unreachable> connect_to(const Url& url, Clock::time_point deadline,
                                             uint64_t timeout_ms) {
  const std::optional<Addresses> addresses = resolve(url);
  if (!addresses) return Unreachable{"Could not resolve host: " + url.host};
  const std::string timeout_text =
      "Timeout was reached: no response within " + std::to_string(timeout_ms) + " ms";
  int last_error = 0;
  for (size_t i = 0; i < addresses->list.size(); ++i) {
    const int left = millis_left(deadline);
    if (left == 0) return Unreachable{timeout_text};
    Socket s(::socket(addresses->list[i].ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.fd() < 0) {
      last_error = errno;
      continue;
    }
    timeval tv{};
    tv.tv_sec = left / 1000;
    tv.tv_usec = (left % 1000) * 1000;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(s.fd(), reinterpret_cast<const sockaddr*>(&addresses->list[i]),
                  addresses->sizes[i]) == 0) {
      return s;
    }
    int error = errno;
    if (error == EINTR) {
      // The connection goes on in the background; wait for its outcome.
      if (!wait_for(s.fd(), POLLOUT, deadline)) return Unreachable{timeout_text};
      socklen_t size = sizeof error;
      if (::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      if (error == 0) return s;
    }
    if (error == EINPROGRESS || error == EAGAIN) return Unreachable{timeout_text};
    last_error = error;
  }
  return Unreachable{"Failed to connect to " + url.host + " port " + url.port + ": " +
                     std::strerror(last_error)};
}

// Reads from a connected socket into a buffer, within a deadline.
class Reader {
 public:
  enum class Status { kData, kEnd, kTimeout, kError };

  explicit Reader(int fd) : fd_(fd) {}

  void set_deadline(Clock::time_point deadline) { deadline_ = deadline; }
  std::string& buffer() { return buffer_; }
  int error() const { return error_; }

  // Appends what arrives next; data already waiting is taken without polling.
  Status fill() {
    char chunk[kReadBytes];
    for (;;) {
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        buffer_.append(chunk, static_cast<size_t>(n));
        return Status::kData;
      }
      if (n == 0) return Status::kEnd;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        error_ = errno;
        return Status::kError;
      }
      if (!wait_for(fd_, POLLIN, deadline_)) return Status::kTimeout;
    }
  }

 private:
  int fd_;
  std::string buffer_;
  Clock::time_point deadline_;
  int error_ = 0;
};

bool send_all(int fd, std::string_view data, Clock::time_point deadline, int* error) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_for(fd, POLLOUT, deadline)) {
        *error = ETIMEDOUT;
        return false;
      }
      continue;
    }
    *error = n < 0 ? errno : EPIPE;
    return false;
  }
  return true;
}

// The start of a response: the final status and how its body is framed.
struct Head {
  long status = 0;
  bool chunked = false;
  std::optional<uint64_t> length;
};

// One header block, without its blank line. Fails for anything that is not
// an HTTP/1.x status line followed by header lines.
std::optional<Head> parse_head(std::string_view block) {
  const size_t first_end = block.find('\n');
  const std::string_view status_line = trim(block.substr(0, first_end));
  // "HTTP/1.1 200 OK", "HTTP/1.0 503", ...
  if (status_line.size() < 12 || !status_line.starts_with("HTTP/1.") || status_line[7] < '0' ||
      status_line[7] > '9' || status_line[8] != ' ') {
    return std::nullopt;
  }
  const std::optional<uint64_t> code = parse_decimal(status_line.substr(9, 3));
  if (!code || *code < 100 || (status_line.size() > 12 && status_line[12] != ' ')) {
    return std::nullopt;
  }
  Head head;
  head.status = static_cast<long>(*code);
  size_t at = first_end == std::string_view::npos ? block.size() : first_end + 1;
  while (at < block.size()) {
    size_t eol = block.find('\n', at);
    if (eol == std::string_view::npos) eol = block.size();
    const std::string_view line = block.substr(at, eol - at);
    at = eol + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = trim(line.substr(0, colon));
    const std::string_view value = trim(line.substr(colon + 1));
    if (equal_ci(name, "content-length")) {
      head.length = parse_decimal(value);
      if (!head.length) return std::nullopt;
    } else if (equal_ci(name, "transfer-encoding")) {
      const size_t comma = value.rfind(',');
      head.chunked = equal_ci(
          trim(comma == std::string_view::npos ? value : value.substr(comma + 1)), "chunked");
    }
  }
  return head;
}

// The end of the header block starting at `start`: the offset after its blank
// line. `scan` remembers where the search left off between reads.
std::optional<size_t> header_end(const std::string& in, size_t start, size_t* scan) {
  size_t line = std::max(*scan, start);
  for (;;) {
    const size_t eol = in.find('\n', line);
    if (eol == std::string::npos) {
      *scan = line;
      return std::nullopt;
    }
    const bool blank = eol == line || (eol == line + 1 && in[line] == '\r');
    if (blank && line > start) return eol + 1;
    line = eol + 1;
  }
}

// Reads a chunked body from `reader`, whose buffer starts at offset `at`.
Exchange read_chunked(Reader& reader, size_t at) {
  std::string& in = reader.buffer();
  std::string body;
  // Returns the next line (without its line ending), reading as needed.
  auto next_line = [&](std::string_view* line) -> bool {
    for (;;) {
      const size_t eol = in.find('\n', at);
      if (eol != std::string::npos) {
        *line = trim(std::string_view(in).substr(at, eol - at));
        at = eol + 1;
        return true;
      }
      if (in.size() - at > kMaxChunkLine) return false;
      if (reader.fill() != Reader::Status::kData) return false;
    }
  };
  for (;;) {
    std::string_view line;
    if (!next_line(&line)) return Unreadable{};
    const std::string_view digits = line.substr(0, line.find_first_of("; \t"));
    if (digits.empty() || digits.size() > 15) return Unreadable{};
    uint64_t size = 0;
    for (char c : digits) {
      const char l = lower(c);
      if (l >= '0' && l <= '9') {
        size = size * 16 + static_cast<uint64_t>(l - '0');
      } else if (l >= 'a' && l <= 'f') {
        size = size * 16 + static_cast<uint64_t>(l - 'a' + 10);
      } else {
        return Unreadable{};
      }
    }
    if (size == 0) {
      // Trailer lines up to the blank one.
      do {
        if (!next_line(&line)) return Unreadable{};
      } while (!line.empty());
      return Answer{std::move(body)};
    }
    if (size > kMaxSidecarBodyBytes - body.size()) return Unreadable{};
    while (in.size() - at < size + 1) {
      if (reader.fill() != Reader::Status::kData) return Unreadable{};
    }
    body.append(in, at, size);
    at += size;
    if (!next_line(&line) || !line.empty()) return Unreadable{};
    // Keep the buffer from holding the whole body twice.
    if (at > kReadBytes) {
      in.erase(0, at);
      at = 0;
    }
  }
}

}  // namespace

Exchange post_json(std::string_view url_text, std::string_view body, uint64_t timeout_ms) {
  try {
    const auto limit = std::chrono::milliseconds(std::min<uint64_t>(timeout_ms, INT_MAX));
    const Clock::time_point header_deadline = Clock::now() + limit;
    const std::optional<Url> url = parse_url(url_text);
    if (!url) return Unreachable{"URL rejected: " + std::string(url_text)};

    std::variant<Socket, Unreachable> connected = connect_to(*url, header_deadline, timeout_ms);
    if (auto* failure = std::get_if<Unreachable>(&connected)) return std::move(*failure);
    const Socket socket = std::move(std::get<Socket>(connected));

    std::string request;
    request.reserve(body.size() + url->target.size() + url->authority.size() + 128);
    request += "POST ";
    request += url->target;
    request += " HTTP/1.1\r\nHost: ";
    request += url->authority;
    request += "\r\ncontent-type: application/json\r\naccept: */*\r\nContent-Length: ";
    request += std::to_string(body.size());
    request += "\r\n\r\n";
    request += body;
    int send_error = 0;
    if (!send_all(socket.fd(), request, header_deadline, &send_error)) {
      return Unreachable{"Send failure: " + std::string(std::strerror(send_error))};
    }

    const std::string timeout_text =
        "Timeout was reached: no response within " + std::to_string(timeout_ms) + " ms";
    Reader reader(socket.fd());
    reader.set_deadline(header_deadline);
    std::string& in = reader.buffer();
    size_t start = 0;  // start of the current header block
    size_t scan = 0;
    Head head;
    size_t body_start = 0;
    for (;;) {
      if (std::optional<size_t> end = header_end(in, start, &scan)) {
        std::optional<Head> parsed = parse_head(std::string_view(in).substr(start, *end - start));
        if (!parsed) return Unreachable{"Weird server reply"};
        if (parsed->status >= 200) {
          head = *parsed;
          body_start = *end;
          break;
        }
        start = *end;  // an interim answer; the final one follows
        continue;
      }
      if (in.size() - start > kMaxHeaderBytes) return Unreachable{"Response headers too large"};
      switch (reader.fill()) {
        case Reader::Status::kData: continue;
        case Reader::Status::kTimeout: return Unreachable{timeout_text};
        case Reader::Status::kEnd:
          if (in.size() == start) return Unreachable{"Empty reply from server"};
          return Unreachable{"Weird server reply"};
        case Reader::Status::kError:
          return Unreachable{"Recv failure: " + std::string(std::strerror(reader.error()))};
      }
    }

    if (head.status < 200 || head.status > 299) return ErrorStatus{head.status};
    if (head.status == 204) return Answer{};
    reader.set_deadline(Clock::now() + limit);
    if (head.chunked) return read_chunked(reader, body_start);
    if (head.length) {
      if (*head.length > kMaxSidecarBodyBytes) return Unreadable{};
      const size_t want = body_start + static_cast<size_t>(*head.length);
      while (in.size() < want) {
        if (reader.fill() != Reader::Status::kData) return Unreadable{};
      }
      return Answer{in.substr(body_start, static_cast<size_t>(*head.length))};
    }
    // Neither a length nor chunks: the body ends with the connection.
    for (;;) {
      if (in.size() - body_start > kMaxSidecarBodyBytes) return Unreadable{};
      switch (reader.fill()) {
        case Reader::Status::kData: continue;
        case Reader::Status::kEnd: return Answer{in.substr(body_start)};
        default: return Unreadable{};
      }
    }
  } catch (...) {
    // Only allocation can fail here; the call then counts as unanswered.
    return Unreachable{"out of memory"};
  }
}

}  // namespace tarnwick_observation::internal
