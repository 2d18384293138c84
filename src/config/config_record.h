#pragma once
// The device's 221-byte configuration record and the form values it is made from.
// Pure value code: no Qt. Texts are the bytes that travel (GBK), so limits count bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora {

inline constexpr std::size_t kConfigRecordSize = 221;
using ConfigRecord = std::array<uint8_t, kConfigRecordSize>;
using Ipv4Octets = std::array<uint8_t, 4>;

// List positions are 0-based; -1 means no selection.
struct ConfigForm {
  Ipv4Octets local_ip{};          // 1006
  Ipv4Octets subnet_mask{};       // 1007
  Ipv4Octets gateway{};           // 1008
  bool dhcp = false;              // 1053
  Ipv4Octets server_ip{};         // 1009
  std::string eth_port;           // 1018
  int net_mode = -1;              // 1004
  std::string domain;             // 1019, at most 64 bytes
  std::string ip0_domain;         // 1023, at most 64 bytes
  std::string ip0_domain_port;    // 1022
  Ipv4Octets ip0_addr{};          // 1010
  std::string ip0_addr_port;      // 1020
  Ipv4Octets ip1_addr{};          // 1011
  std::string ip1_port;           // 1021
  std::string lora_freq;          // 1024, MHz
  int sleep_time = -1;            // 1012
  int breathe_time = -1;          // 1005
  std::string lora_net_addr;      // 1025
  int tx_power = -1;              // 1016 (serial page) / 1017 (network page)
  int uart_baud = -1;             // 1013
  int uart_parity = -1;           // 1014
  int uart_mode = -1;             // 1015
  int uart_map = -1;              // 1017 (serial page) / 1029 (network page)
  // Absent after decoding when the record's length byte is 0: the page keeps its box.
  std::optional<std::string> heartbeat;      // 1026
  std::optional<std::string> register_data;  // 1027
  bool hex = false;               // 1054
  std::string mac;                // 1028, at most 17 characters

  bool operator==(const ConfigForm&) const = default;
};

// Widths of the record's byte fields. Ports travel as two bytes, the LoRa network
// address as one.
inline constexpr std::size_t kDomainBytes = 64;
inline constexpr std::size_t kHeartbeatBytes = 10;
inline constexpr std::size_t kRegisterBytes = 32;
inline constexpr std::size_t kMacBytes = 6;
using MacBytes = std::array<uint8_t, kMacBytes>;

// The highest LoRa frequency in MHz, to the hundredth, whose step count the record's
// three frequency bytes hold.
double MaxLoraFrequency();

// Item counts of the lists, so a decoded position that names no item becomes -1.
inline constexpr int kNetModeItems = 3;
inline constexpr int kSleepTimeItems = 5;
inline constexpr int kBreatheTimeItems = 6;
inline constexpr int kTxPowerItems = 7;
inline constexpr int kUartBaudItems = 8;
inline constexpr int kUartParityItems = 3;
inline constexpr int kUartModeItems = 3;
inline constexpr int kUartMapItems = 5;

ConfigRecord EncodeConfig(const ConfigForm& form);

// The device's own address and MAC written into a record, every other byte kept: a
// decode and encode would not give back every record (frequency steps, list positions).
void SetConfigLocalIp(ConfigRecord& record, const Ipv4Octets& ip);
void SetConfigMac(ConfigRecord& record, const MacBytes& mac);

// `payload` is the reply's payload (its length byte's worth, 0..255 bytes); missing
// bytes read as zero. `hex` is the current state of the HEX box.
ConfigForm DecodeConfig(std::span<const uint8_t> payload, bool hex);

// Pairs of hex digits to bytes, from the first `count` characters; a lone last digit is
// ignored, and reading stops at the first pair that is not two hex digits.
std::vector<uint8_t> HexToBytes(const std::string& text, std::size_t count);

}  // namespace velmora
