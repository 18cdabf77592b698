// File: canonical.h
//
// The core library's entry to canonical argument texts: the compact canonical
// JSON text of `args_json` with the given volatile fields removed, "null" when
// the text is not one JSON document. It forwards to the observation library.
//
//   tarnwick_core::canonicalize_args(R"({"b": 1, "a": 2, "ts": 5})", fields)  // {"a":2,"b":1}

#ifndef TARNWICK_CORE_CANONICAL_H_
#define TARNWICK_CORE_CANONICAL_H_

#include <span>
#include <string>
#include <string_view>

#include "observation/canonical.h"

namespace tarnwick_core {

inline std::string canonicalize_args(std::string_view args_json,
                                     std::span<const std::string> volatile_fields) {
  return tarnwick_observation::canonicalize_args(args_json, volatile_fields);
}

}  // namespace tarnwick_core

#endif  // TARNWICK_CORE_CANONICAL_H_
