#include "sim_types.h"

#include "protocol/hex_string.h"

namespace velmora::sim {

std::string CodeName(uint8_t code) { return HexString(std::span(&code, 1)); }

}  // namespace velmora::sim
