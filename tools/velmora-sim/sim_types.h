#pragma once
// Small shared vocabulary of the device simulator.

#include <cstdint>
#include <string>

namespace velmora::sim {

// Monotonic time in nanoseconds. The logic units take the time as an argument, so
// tests can run them on a made-up clock.
using Nanos = int64_t;
inline constexpr Nanos kMilli = 1'000'000;

enum class SimLink : uint8_t { kSerial, kUdp };

inline const char* LinkName(SimLink l) { return l == SimLink::kSerial ? "serial" : "udp"; }

// "E2", "E5": the code as the log shows it.
std::string CodeName(uint8_t code);

}  // namespace velmora::sim
