#include "config/mac_generator.h"

#include <ctime>

#include "protocol/hex_string.h"

namespace velmora {

int64_t LocalMilliseconds(const LocalTime& t) {
  int64_t seconds = 0;
  if (t.year >= 1900) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    seconds = static_cast<int64_t>(std::mktime(&tm));
  }
  return seconds * 1000 + t.msec;
}

std::array<uint8_t, 6> MacFromMilliseconds(int64_t ms) {
  const auto bits = static_cast<uint64_t>(ms);
  std::array<uint8_t, 6> mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) mac[i] = static_cast<uint8_t>(bits >> (40 - 8 * i));
  if (mac[0] & 1) ++mac[0];
  if (mac[5] & 1) ++mac[5];
  return mac;
}

QString MacText(const std::array<uint8_t, 6>& mac) {
  return QString::fromStdString(HexString(mac, " ", HexSeparator::kAfterEach));
}

}  // namespace velmora
