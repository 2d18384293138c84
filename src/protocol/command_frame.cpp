#include "protocol/command_frame.h"

#include "protocol/hex_string.h"

#include <chrono>
#include <ctime>
#include <string>

namespace velmora {

uint8_t Checksum8(std::span<const uint8_t> bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return sum;
}

namespace {
std::optional<std::vector<uint8_t>> BuildFrame(uint8_t direction, uint8_t code, std::span<const uint8_t> payload) {
  if (payload.size() > kMaxCommandPayload) return std::nullopt;
  std::vector<uint8_t> frame;
  frame.reserve(payload.size() + 6);
  frame.push_back(kFrameStart);
  frame.push_back(direction);
  frame.push_back(code);
  frame.push_back(static_cast<uint8_t>(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(Checksum8(frame));
  frame.push_back(kFrameEnd);
  return frame;
}
}  // namespace

std::optional<std::vector<uint8_t>> BuildCommandFrame(uint8_t code, std::span<const uint8_t> payload) {
  return BuildFrame(kDirToDevice, code, payload);
}

std::optional<std::vector<uint8_t>> BuildReplyFrame(uint8_t code, std::span<const uint8_t> payload) {
  return BuildFrame(kDirToTool, code, payload);
}

QString HexText(std::span<const uint8_t> bytes) {
  const std::string hex = HexString(bytes, " ", HexSeparator::kAfterEach);
  QString out;
  out.reserve(static_cast<qsizetype>(hex.size() + 2));
  out.append(QLatin1String(hex.data(), static_cast<qsizetype>(hex.size())));
  out.append(QLatin1String("\r\n"));
  return out;
}

LocalTime CurrentLocalTime() {
  // Every log entry asks for the time; the C library's conversion is several times
  // cheaper than working out the zone afresh on each call.
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &secs);
#else
  localtime_r(&secs, &tm);
#endif
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                   static_cast<int>(ms)};
}

namespace {
uint8_t Bcd(int v) {
  v %= 100;
  if (v < 0) v += 100;
  return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}
}  // namespace

std::array<uint8_t, 6> ClockPayload(const LocalTime& t) {
  return {Bcd(t.year - 2000), Bcd(t.month), Bcd(t.day), Bcd(t.hour), Bcd(t.minute), Bcd(t.second)};
}

}  // namespace velmora
