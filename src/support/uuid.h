// File: uuid.h
//
// Random version-4 UUIDs, the library's one UUID source. Bytes come from the
// operating system's random source; as text a UUID is the 36-character
// hyphenated form with lowercase hexadecimal digits (8-4-4-4-12).

#ifndef TARNWICK_SUPPORT_UUID_H_
#define TARNWICK_SUPPORT_UUID_H_

#include <array>
#include <cstdint>
#include <string>

namespace tarnwick_support {

class Uuid {
 public:
  Uuid() : bytes_{} {}  // the nil UUID
  explicit Uuid(const std::array<uint8_t, 16>& bytes) : bytes_(bytes) {}

  // A fresh random version-4 (variant RFC 4122) UUID. Thread-safe.
  static Uuid new_v4();

  const std::array<uint8_t, 16>& bytes() const { return bytes_; }
  // "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx", lowercase.
  std::string to_string() const;

  friend bool operator==(const Uuid&, const Uuid&) = default;

 private:
  std::array<uint8_t, 16> bytes_;
};

}  // namespace tarnwick_support

#endif  // TARNWICK_SUPPORT_UUID_H_
