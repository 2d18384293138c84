#pragma once
// Firmware frames as the tool puts them on the wire, built here by hand so the simulator
// is checked against the layouts rather than against its own code.

#include <cstdint>
#include <span>
#include <vector>

#include "support/frames.h"

namespace velmora::sim::test {

using ::velmora::test::Bytes;
using ::velmora::test::Command;
using ::velmora::test::FirmwareReply;
using ::velmora::test::ReadBytes;
using ::velmora::test::Reply;
using ::velmora::test::Sum32;
using ::velmora::test::TestImage;
using ::velmora::test::Text;
using ::velmora::test::WriteBytes;

inline uint8_t Sum(std::span<const uint8_t> b) {
  unsigned s = 0;
  for (uint8_t x : b) s += x;
  return static_cast<uint8_t>(s);
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

}  // namespace velmora::sim::test
