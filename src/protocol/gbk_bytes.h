#pragma once
// Byte-level GBK rules for code that holds texts as the bytes that travel and must
// stay free of Qt (the record codecs). Conversion itself lives in gbk.h.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora {

inline bool IsGbkLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
inline bool IsGbkTrailByte(uint8_t b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Length of the longest prefix of `bytes` that fits in `max_bytes` without ending
// between the two bytes of a character: half a character would reach the device as
// a stray lead byte and come back as garbage.
inline std::size_t GbkFitLength(std::string_view bytes, std::size_t max_bytes) {
  if (bytes.size() <= max_bytes) return bytes.size();
  std::size_t i = 0;
  while (i < max_bytes) {
    const bool pair = IsGbkLeadByte(static_cast<uint8_t>(bytes[i])) && i + 1 < bytes.size() &&
                      IsGbkTrailByte(static_cast<uint8_t>(bytes[i + 1]));
    const std::size_t len = pair ? 2 : 1;
    if (i + len > max_bytes) break;
    i += len;
  }
  return i;
}

}  // namespace velmora
