#include "config/config_defaults.h"

namespace velmora {

ConfigForm DefaultConfigForm() {
  ConfigForm f;
  f.local_ip = {192, 168, 1, 100};
  f.subnet_mask = {255, 255, 255, 0};
  f.gateway = {192, 168, 1, 1};
  f.dhcp = false;
  f.server_ip = kDefaultServerOctets;
  f.eth_port = "2000";
  f.net_mode = 0;  // "TCP Client"
  f.domain.clear();
  f.ip0_domain.clear();
  f.ip0_domain_port = "0";
  f.ip0_addr = kDefaultServerOctets;
  f.ip0_addr_port = "2233";
  f.ip1_addr = kDefaultServerOctets;
  f.ip1_port = "0";
  f.lora_freq = "434.00";
  f.sleep_time = 0;     // "2s"
  f.breathe_time = 4;   // "32ms"
  f.lora_net_addr = "0";
  f.tx_power = 6;       // "Level7"
  f.uart_baud = 3;      // "9600"
  f.uart_parity = 0;    // "NO"
  f.uart_mode = 0;      // "TTL"
  f.uart_map = 0;       // "关闭"
  f.heartbeat = std::string();
  f.register_data = std::string();
  f.hex = false;
  f.mac.clear();
  return f;
}

}  // namespace velmora
