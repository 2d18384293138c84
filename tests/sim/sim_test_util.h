#pragma once
// Frames as the tool puts them on the wire, built here by hand so the simulator is
// checked against the layouts rather than against its own code.

#include <cstdint>
#include <span>
#include <vector>

namespace velmora::sim::test {

using Bytes = std::vector<uint8_t>;

inline uint8_t Sum(std::span<const uint8_t> b) {
  unsigned s = 0;
  for (uint8_t x : b) s += x;
  return static_cast<uint8_t>(s);
}

inline Bytes Command(uint8_t code, const Bytes& payload = {}) {
  Bytes f{0xF5, 0x80, code, static_cast<uint8_t>(payload.size())};
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(Sum(f));
  f.push_back(0x0D);
  return f;
}

inline Bytes FirmwareData(uint8_t seq, const Bytes& data) {
  Bytes f{0xF5, 0x80, 0xE5, seq, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(Sum(f));
  f.push_back(0x0D);
  return f;
}

inline Bytes EndPayload(uint32_t length, uint32_t sum) {
  return {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length),       static_cast<uint8_t>(sum >> 24),    static_cast<uint8_t>(sum >> 16),
          static_cast<uint8_t>(sum >> 8),     static_cast<uint8_t>(sum)};
}

inline Bytes FirmwareEnd(uint32_t length, uint32_t sum) { return FirmwareData(0xFF, EndPayload(length, sum)); }

// A Reply frame as the device should send it.
inline Bytes Reply(uint8_t code, const Bytes& payload = {}) {
  Bytes f = Command(code, payload);
  f[1] = 0x00;
  f[f.size() - 2] = Sum(std::span(f).first(f.size() - 2));
  return f;
}

inline Bytes Text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

inline Bytes Pattern(std::size_t n, uint32_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(seed >> 16);
  }
  return b;
}

inline uint32_t Sum32(const Bytes& b) {
  uint32_t s = 0;
  for (uint8_t x : b) s += x;
  return s;
}

}  // namespace velmora::sim::test
