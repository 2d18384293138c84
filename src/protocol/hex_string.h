#pragma once
// Bytes as pairs of upper-case hex digits, for the logs, the form fields and the
// simulator's state file. Header-only and free of Qt, so the record codecs share it
// without the protocol library.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velmora {

// Where the separator goes: "F5 80 0D" or "F5 80 0D ".
enum class HexSeparator : uint8_t { kBetween, kAfterEach };

inline std::string HexString(std::span<const uint8_t> bytes, std::string_view separator = " ",
                             HexSeparator placement = HexSeparator::kBetween) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * (2 + separator.size()));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && placement == HexSeparator::kBetween) out += separator;
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
    if (placement == HexSeparator::kAfterEach) out += separator;
  }
  return out;
}

}  // namespace velmora
