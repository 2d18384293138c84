#include "sim_types.h"

namespace velmora::sim {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string CodeName(uint8_t code) { return {kDigits[code >> 4], kDigits[code & 0x0F]}; }

std::string HexBytes(const uint8_t* data, std::size_t n) {
  std::string s;
  s.reserve(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kDigits[data[i] >> 4];
    s += kDigits[data[i] & 0x0F];
  }
  return s;
}

}  // namespace velmora::sim
