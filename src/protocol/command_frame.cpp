#include "protocol/command_frame.h"

#include <QDateTime>

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
  static constexpr char kDigits[] = "0123456789ABCDEF";
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size() * 3 + 2));
  for (uint8_t b : bytes) {
    out.append(QLatin1Char(kDigits[b >> 4]));
    out.append(QLatin1Char(kDigits[b & 0x0F]));
    out.append(QLatin1Char(' '));
  }
  out.append(QLatin1String("\r\n"));
  return out;
}

LocalTime CurrentLocalTime() {
  const QDateTime now = QDateTime::currentDateTime();
  const QDate d = now.date();
  const QTime t = now.time();
  return LocalTime{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
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
