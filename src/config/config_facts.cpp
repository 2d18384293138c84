#include "config/config_facts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace velmora {

ConfigFacts ConfigFacts::Of(const ConfigForm& form) {
  ConfigFacts facts;
  // The form holds the MAC as the page shows it ("02 1A ... "), a profile as typed.
  std::string digits;
  for (char c : form.mac) {
    if (c == ' ' || c == ':' || c == '-') continue;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const bool hex = digits.size() == 12 && std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
  if (hex && digits.find_first_not_of('0') != std::string::npos) {
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      if (i > 0) facts.mac += ':';
      facts.mac += digits.substr(i, 2);
    }
  }
  const auto& ip = form.local_ip;
  if (std::any_of(ip.begin(), ip.end(), [](uint8_t b) { return b != 0; })) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    facts.local_ip = text;
  }
  return facts;
}

}  // namespace velmora
