#pragma once
// What a configuration says about which unit it belongs to, as the device register keeps
// it: the MAC address "02:1A:2B:3C:4D:5E" and the local IP address "192.168.1.100".
// Either is empty when the record leaves it unset (all zero) or the text is no address.

#include <string>

#include "config/config_record.h"

namespace velmora {

struct ConfigFacts {
  std::string mac;
  std::string local_ip;

  static ConfigFacts Of(const ConfigForm& form);
};

}  // namespace velmora
