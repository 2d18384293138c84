#pragma once
// Zero-filled fixed-width text fields, as the device's records and replies carry them.
// Header-only and free of Qt, so the record codecs share it without the protocol library.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

namespace velmora {

// The field's bytes up to its first zero byte, never past the field: a full field has
// no terminator, and running on would show the next field's bytes as part of this text.
inline std::span<const uint8_t> TextFieldBytes(std::span<const uint8_t> field) {
  return field.first(static_cast<std::size_t>(std::find(field.begin(), field.end(), uint8_t{0}) - field.begin()));
}

inline std::string TextField(std::span<const uint8_t> field) {
  const auto text = TextFieldBytes(field);
  return std::string(text.begin(), text.end());
}

}  // namespace velmora
