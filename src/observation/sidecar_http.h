// File: sidecar_http.h
//
// The semantic detector's HTTP client: one POST of a JSON body over a fresh
// connection, closed when the exchange ends, with one time bound for the
// response headers (connecting and sending included) and a separate one for
// the body. It speaks the part of HTTP/1.1 a sidecar answer needs: plain
// "http://" URLs, interim 1xx responses, and bodies framed by a length, by
// chunks or by the end of the connection. Never throws; safe to use from
// several threads at once, as nothing is shared between calls.

#ifndef TARNWICK_OBSERVATION_SIDECAR_HTTP_H_
#define TARNWICK_OBSERVATION_SIDECAR_HTTP_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tarnwick_observation::internal {

// A larger 2xx body is unreadable; reading stops as soon as the body is
// known to exceed it.
inline constexpr size_t kMaxSidecarBodyBytes = size_t{1} << 20;

// No response: invalid URL, no connection, failure or timeout before the
// response headers ended, or a reply that is not HTTP.
struct Unreachable {
  std::string description;
};
// A final status outside 200-299; the body is not read.
struct ErrorStatus {
  long code = 0;
};
// A 2xx answer whose body was cut short, too large or too slow.
struct Unreadable {};
// A 2xx answer and its whole body.
struct Answer {
  std::string body;
};
using Exchange = std::variant<Unreachable, ErrorStatus, Unreadable, Answer>;

// Sends `body` as "content-type: application/json" with "accept: */*" to
// `url` and reads the answer, waiting at most `timeout_ms` for the response
// headers and at most `timeout_ms` again for the body.
Exchange post_json(std::string_view url, std::string_view body, uint64_t timeout_ms);

}  // namespace tarnwick_observation::internal

#endif  // TARNWICK_OBSERVATION_SIDECAR_HTTP_H_
