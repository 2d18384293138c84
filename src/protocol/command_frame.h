#pragma once
// Command frames (tool to device): F5 80 code N payload[N] sum 0D.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

namespace cmd {
inline constexpr uint8_t kWriteConfig = 0xE1;
inline constexpr uint8_t kReadConfig = 0xE2;
inline constexpr uint8_t kReadVersion = 0xE3;
inline constexpr uint8_t kSoftwareReset = 0xE4;
inline constexpr uint8_t kFirmware = 0xE5;
inline constexpr uint8_t kWriteMqtt = 0xE6;
inline constexpr uint8_t kReadMqtt = 0xE7;
inline constexpr uint8_t kReadCsq = 0xEB;
inline constexpr uint8_t kSyncClock = 0xEC;
}  // namespace cmd

inline constexpr uint8_t kFrameStart = 0xF5;
inline constexpr uint8_t kDirToDevice = 0x80;
inline constexpr uint8_t kDirToTool = 0x00;
inline constexpr uint8_t kFrameEnd = 0x0D;
inline constexpr std::size_t kMaxCommandPayload = 255;

// Low 8 bits of the sum of the bytes.
uint8_t Checksum8(std::span<const uint8_t> bytes);

// Builds the whole frame. A payload longer than 255 bytes cannot be expressed in
// the length byte: the result is empty rather than a silently truncated frame.
std::optional<std::vector<uint8_t>> BuildCommandFrame(uint8_t code, std::span<const uint8_t> payload);

// A Reply frame as a device sends it: F5 00 code N payload sum 0D. The tool only reads
// these; the simulator and the tests build them. Empty above 255 payload bytes.
std::optional<std::vector<uint8_t>> BuildReplyFrame(uint8_t code, std::span<const uint8_t> payload);

// "%02X " per byte, then "\r\n".
QString HexText(std::span<const uint8_t> bytes);

// Broken-down local time, as the clock payload and the log stamp need it.
struct LocalTime {
  int year = 2000;   // e.g. 2021
  int month = 1;     // 1..12
  int day = 1;       // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int msec = 0;
};

// The PC's local time now.
LocalTime CurrentLocalTime();

// Six packed-BCD bytes: year-2000, month, day, hour, minute, second.
std::array<uint8_t, 6> ClockPayload(const LocalTime& t);

}  // namespace velmora
