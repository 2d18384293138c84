#include "config/config_record.h"

#include "config/number_text.h"
#include "protocol/gbk_bytes.h"
#include "protocol/hex_string.h"
#include "protocol/text_field.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace velmora {
namespace {

// Offsets of the record's fields.
namespace off {
constexpr std::size_t kLocalIp = 0, kSubnetMask = 4, kGateway = 8, kServerIp = 12, kEthPort = 16, kDhcp = 18,
                      kNetMode = 19, kDomain = 20, kIp0Addr = 84, kIp0Port = 88, kIp1Addr = 90, kIp1Port = 94,
                      kIp0Domain = 96, kLoraFreq = 160, kSleepTime = 163, kBreatheTime = 164, kLoraNetAddr = 165,
                      kTxPower = 166, kUartParity = 167, kUartBaud = 168, kUartMode = 169, kUartMap = 170,
                      kHeartbeatLen = 171, kHeartbeat = 172, kRegisterLen = 182, kRegister = 183, kMac = 215;
}  // namespace off

// The device counts LoRa steps of 61.035 Hz on the way in and 61.03515625 Hz on the
// way out; both are what deployed devices expect.
constexpr double kFreqStepIn = 61.035;
constexpr double kFreqStepOut = 61.03515625;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Double to 32-bit integer, truncating toward zero. Values the conversion cannot hold
// give the x86 "integer indefinite" 0x80000000, which is what the tool always stored.
int32_t TruncToInt32(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

void PutOctets(ConfigRecord& r, std::size_t at, const Ipv4Octets& ip) { std::copy(ip.begin(), ip.end(), r.begin() + at); }

void PutPort(ConfigRecord& r, std::size_t at, const std::string& text) {
  const auto v = static_cast<uint16_t>(static_cast<uint32_t>(ReadInt(text)));
  r[at] = static_cast<uint8_t>(v >> 8);
  r[at + 1] = static_cast<uint8_t>(v);
}

// List positions travel as their low byte, so no selection (-1) gives 0xFF, or 0 once a
// 1-based field adds its one.
uint8_t LowByte(int v, unsigned plus = 0) { return static_cast<uint8_t>(static_cast<unsigned>(v) + plus); }

void PutBytes(ConfigRecord& r, std::size_t at, std::string_view bytes) {
  std::memcpy(r.data() + at, bytes.data(), bytes.size());
}

std::string WithoutChars(const std::string& text, std::string_view drop) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (drop.find(c) == std::string_view::npos) out += c;
  return out;
}

// Heartbeat or registration packet: its length byte, then its bytes.
void PutPacket(ConfigRecord& r, std::size_t len_at, std::size_t at, std::size_t limit,
               const std::optional<std::string>& text, bool hex) {
  if (!text || text->empty()) return;
  std::string bytes;
  if (hex) {
    const std::string digits = WithoutChars(*text, " ");
    const auto b = HexToBytes(digits, std::min(digits.size(), 2 * limit));
    bytes.assign(b.begin(), b.end());
  } else {
    bytes = text->substr(0, GbkFitLength(*text, limit));
  }
  r[len_at] = static_cast<uint8_t>(bytes.size());
  PutBytes(r, at, bytes);
}

std::string Decimal(long v) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

Ipv4Octets Octets(const uint8_t* p) { return {p[0], p[1], p[2], p[3]}; }

int Position(int raw, int items) { return raw >= 0 && raw < items ? raw : -1; }

std::string FrequencyText(uint32_t steps) {
  const double v = steps / 1000000.0 * kFreqStepOut;
  const double whole = std::trunc(v);
  const double hundredths = std::trunc((v - whole) * 100);
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, whole + hundredths / 100, std::chars_format::fixed, 2);
  return std::string(buf, res.ptr);
}

std::optional<std::string> PacketText(const uint8_t* p, uint8_t len, std::size_t limit, bool hex) {
  if (len == 0) return std::nullopt;
  // A length beyond the field shows what the field holds, never the bytes after it.
  const std::size_t n = std::min<std::size_t>(len, limit);
  return hex ? HexString(std::span(p, n), " ", HexSeparator::kAfterEach) : TextField(std::span(p, n));
}

}  // namespace

double MaxLoraFrequency() {
  constexpr uint32_t kMaxSteps = 0xFFFFFF;
  return std::floor(kMaxSteps * kFreqStepIn / 10000) / 100;
}

std::vector<uint8_t> HexToBytes(const std::string& text, std::size_t count) {
  count = std::min(count, text.size());
  std::vector<uint8_t> out;
  out.reserve(count / 2);
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    const int hi = HexValue(text[i]);
    const int lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) break;
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return out;
}

ConfigRecord EncodeConfig(const ConfigForm& f) {
  ConfigRecord r{};
  if (!f.dhcp) {
    PutOctets(r, off::kLocalIp, f.local_ip);
    PutOctets(r, off::kSubnetMask, f.subnet_mask);
    PutOctets(r, off::kGateway, f.gateway);
  }
  PutOctets(r, off::kServerIp, f.server_ip);
  PutPort(r, off::kEthPort, f.eth_port);
  r[off::kDhcp] = f.dhcp ? 1 : 0;
  r[off::kNetMode] = LowByte(f.net_mode, 1);

  if (!f.domain.empty()) {
    PutOctets(r, off::kServerIp, Ipv4Octets{});
    PutBytes(r, off::kDomain, std::string_view(f.domain).substr(0, GbkFitLength(f.domain, kDomainBytes)));
  }
  if (f.ip0_domain.empty()) {
    PutOctets(r, off::kIp0Addr, f.ip0_addr);
    PutPort(r, off::kIp0Port, f.ip0_addr_port);
  } else {
    PutBytes(r, off::kIp0Domain,
             std::string_view(f.ip0_domain).substr(0, GbkFitLength(f.ip0_domain, kDomainBytes)));
    PutPort(r, off::kIp0Port, f.ip0_domain_port);
  }
  PutOctets(r, off::kIp1Addr, f.ip1_addr);
  PutPort(r, off::kIp1Port, f.ip1_port);

  const auto steps = static_cast<uint32_t>(TruncToInt32(ReadDouble(f.lora_freq) / kFreqStepIn * 1000000));
  r[off::kLoraFreq] = static_cast<uint8_t>(steps >> 16);
  r[off::kLoraFreq + 1] = static_cast<uint8_t>(steps >> 8);
  r[off::kLoraFreq + 2] = static_cast<uint8_t>(steps);

  r[off::kSleepTime] = LowByte(f.sleep_time);
  r[off::kBreatheTime] = LowByte(f.breathe_time);
  r[off::kLoraNetAddr] = LowByte(ReadInt(f.lora_net_addr));
  r[off::kTxPower] = LowByte(f.tx_power);
  r[off::kUartBaud] = LowByte(f.uart_baud, 1);
  r[off::kUartParity] = LowByte(f.uart_parity);
  r[off::kUartMode] = LowByte(f.uart_mode);
  r[off::kUartMap] = LowByte(f.uart_map);

  PutPacket(r, off::kHeartbeatLen, off::kHeartbeat, kHeartbeatBytes, f.heartbeat, f.hex);
  PutPacket(r, off::kRegisterLen, off::kRegister, kRegisterBytes, f.register_data, f.hex);

  if (!f.mac.empty()) {
    // Spaces as the tool writes the address, ':' and '-' as engineers usually type it.
    const std::string digits = WithoutChars(f.mac, " :-");
    const auto b = HexToBytes(digits, std::min<std::size_t>(digits.size(), 2 * kMacBytes));
    std::copy(b.begin(), b.end(), r.begin() + off::kMac);
  }
  return r;
}

void SetConfigLocalIp(ConfigRecord& record, const Ipv4Octets& ip) { PutOctets(record, off::kLocalIp, ip); }

void SetConfigMac(ConfigRecord& record, const MacBytes& mac) {
  std::copy(mac.begin(), mac.end(), record.begin() + off::kMac);
}

ConfigForm DecodeConfig(std::span<const uint8_t> payload, bool hex) {
  std::array<uint8_t, 256> p{};
  std::copy_n(payload.begin(), std::min(payload.size(), kConfigRecordSize), p.begin());
  auto port = [&](std::size_t at) { return Decimal(p[at] * 256 + p[at + 1]); };

  ConfigForm f;
  f.local_ip = Octets(&p[off::kLocalIp]);
  f.subnet_mask = Octets(&p[off::kSubnetMask]);
  f.gateway = Octets(&p[off::kGateway]);
  f.server_ip = Octets(&p[off::kServerIp]);
  f.eth_port = port(off::kEthPort);
  f.domain = TextField(std::span(&p[off::kDomain], kDomainBytes));
  f.ip0_addr = Octets(&p[off::kIp0Addr]);
  f.ip1_addr = Octets(&p[off::kIp1Addr]);
  f.ip1_port = port(off::kIp1Port);
  f.dhcp = p[off::kDhcp] != 0;
  f.net_mode = Position(p[off::kNetMode] - 1, kNetModeItems);

  f.ip0_domain = TextField(std::span(&p[off::kIp0Domain], kDomainBytes));
  // assign(1, '0') rather than = "0": GCC 12 warns falsely (-Wrestrict) on the latter.
  if (f.ip0_domain.empty()) {
    f.ip0_domain_port.assign(1, '0');
    f.ip0_addr_port = port(off::kIp0Port);
  } else {
    f.ip0_domain_port = port(off::kIp0Port);
    f.ip0_addr_port.assign(1, '0');
  }

  f.lora_freq = FrequencyText(uint32_t{p[off::kLoraFreq]} << 16 | uint32_t{p[off::kLoraFreq + 1]} << 8 |
                              p[off::kLoraFreq + 2]);
  f.sleep_time = Position(p[off::kSleepTime], kSleepTimeItems);
  f.breathe_time = Position(p[off::kBreatheTime], kBreatheTimeItems);
  f.lora_net_addr = Decimal(p[off::kLoraNetAddr]);
  f.tx_power = Position(p[off::kTxPower], kTxPowerItems);
  f.uart_baud = Position(p[off::kUartBaud] - 1, kUartBaudItems);
  f.uart_parity = Position(p[off::kUartParity], kUartParityItems);
  f.uart_mode = Position(p[off::kUartMode], kUartModeItems);
  f.uart_map = Position(p[off::kUartMap], kUartMapItems);

  f.heartbeat = PacketText(&p[off::kHeartbeat], p[off::kHeartbeatLen], kHeartbeatBytes, hex);
  f.register_data = PacketText(&p[off::kRegister], p[off::kRegisterLen], kRegisterBytes, hex);
  f.hex = hex;
  f.mac = HexString(std::span(&p[off::kMac], kMacBytes), " ", HexSeparator::kAfterEach);
  return f;
}

}  // namespace velmora
