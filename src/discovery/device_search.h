#pragma once
// Finding the devices on a network: a version query and a configuration query go to a
// broadcast address, and every answer is sorted by its sender. The caller owns the socket
// and the wait, so the command line (on its UDP hub) and the window (on its endpoint)
// search alike.

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "config/config_record.h"
#include "core/peer_address.h"

namespace velmora {

// One device that answered a search.
struct FoundDevice {
  PeerAddress from;                  // the address and port it answered from
  std::optional<QString> version;    // its version text, when it answered that query
  std::optional<ConfigForm> config;  // its configuration record, when it answered that query
  // Another device reports the same local IP (both with DHCP off) or the same non-zero
  // MAC: a cloned identity, a real fault in the field.
  bool conflict = false;

  // "192.0.2.10"
  QString Address() const;
  // "02:1A:2B:3C:4D:5E"; empty without a configuration or with an all-zero MAC.
  QString Mac() const;
  // "192.0.2.10"; empty without a configuration.
  QString LocalIp() const;
};

class DeviceSearch {
 public:
  // The wait the command line and the window give a search unless told otherwise.
  static constexpr int kDefaultWaitMs = 1000;

  // The two Command frames a search sends, in order: version, then configuration.
  static std::vector<std::vector<uint8_t>> QueryFrames();

  // A datagram from `from`. True when it answered one of the queries and was taken;
  // anything else is left to the caller.
  bool Offer(const PeerAddress& from, std::span<const uint8_t> datagram);

  // Every device that answered, sorted by address, with conflicts marked.
  std::vector<FoundDevice> Devices() const;

 private:
  std::map<std::pair<uint32_t, uint16_t>, FoundDevice> found_;
};

// "02:1A:2B:3C:4D:5E" from the form's MAC text; empty for none or all zeros.
QString CanonicalMac(const std::string& form_mac);

}  // namespace velmora
