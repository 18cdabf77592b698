// File: http_status.h
//
// Reason phrases of HTTP status codes, as printed in the sidecar's log
// messages. Every registered status code has its customary phrase ("Payload
// Too Large" for 413, "I'm a teapot" for 418); every other number yields
// "<unknown status code>".

#ifndef TARNWICK_OBSERVATION_HTTP_STATUS_H_
#define TARNWICK_OBSERVATION_HTTP_STATUS_H_

#include <string_view>

namespace tarnwick_observation {

// The standard reason phrase of `code` ("Service Unavailable" for 503), or
// "<unknown status code>". The text is static.
std::string_view http_reason_phrase(long code);

}  // namespace tarnwick_observation

#endif  // TARNWICK_OBSERVATION_HTTP_STATUS_H_
