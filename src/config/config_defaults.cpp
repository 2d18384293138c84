#include "config/config_defaults.h"

namespace velmora {

ConfigForm DefaultConfigForm() {
  // Built in one initialiser: assigning the texts one by one trips a false
  // -Wrestrict warning of GCC 12 in optimised builds.
  return ConfigForm{
      .local_ip = {192, 168, 1, 100},
      .subnet_mask = {255, 255, 255, 0},
      .gateway = {192, 168, 1, 1},
      .dhcp = false,
      .server_ip = kDefaultServerOctets,
      .eth_port = "2000",
      .net_mode = 0,  // "TCP Client"
      .domain = "",
      .ip0_domain = "",
      .ip0_domain_port = "0",
      .ip0_addr = kDefaultServerOctets,
      .ip0_addr_port = "2233",
      .ip1_addr = kDefaultServerOctets,
      .ip1_port = "0",
      .lora_freq = "434.00",
      .sleep_time = 0,    // "2s"
      .breathe_time = 4,  // "32ms"
      .lora_net_addr = "0",
      .tx_power = 6,      // "Level7"
      .uart_baud = 3,     // "9600"
      .uart_parity = 0,   // "NO"
      .uart_mode = 0,     // "TTL"
      .uart_map = 0,      // "关闭"
      .heartbeat = std::string(),
      .register_data = std::string(),
      .hex = false,
      .mac = "",
  };
}

}  // namespace velmora
