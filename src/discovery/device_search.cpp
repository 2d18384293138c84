#include "discovery/device_search.h"

#include <QStringList>

#include "protocol/command_frame.h"
#include "protocol/gbk.h"
#include "protocol/receive_pump.h"
#include "protocol/text_field.h"

namespace velmora {

QString CanonicalMac(const std::string& form_mac) {
  QString digits;
  for (const char c : form_mac) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += QChar::fromLatin1(c).toUpper();
  }
  if (digits.size() != 12 || digits == QStringLiteral("000000000000")) return {};
  QStringList bytes;
  for (int i = 0; i < 12; i += 2) bytes << digits.mid(i, 2);
  return bytes.join(QLatin1Char(':'));
}

QString FoundDevice::Address() const { return from.IpText(); }

QString FoundDevice::Mac() const { return config ? CanonicalMac(config->mac) : QString(); }

QString FoundDevice::LocalIp() const {
  if (!config) return {};
  const auto& ip = config->local_ip;
  return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

std::vector<std::vector<uint8_t>> DeviceSearch::QueryFrames() {
  return {*BuildCommandFrame(cmd::kReadVersion, {}), *BuildCommandFrame(cmd::kReadConfig, {})};
}

bool DeviceSearch::Offer(const PeerAddress& from, std::span<const uint8_t> datagram) {
  if (!IsReplyFrame(datagram)) return false;
  const ReplyFrame frame{Link::Udp, datagram, from};
  if (frame.Code() != cmd::kReadVersion && frame.Code() != cmd::kReadConfig) return false;
  FoundDevice& d = found_[{from.ipv4, from.port}];
  d.from = from;
  if (frame.Code() == cmd::kReadVersion) {
    d.version = FromGbk(TextFieldBytes(frame.Payload()));
  } else {
    d.config = DecodeConfig(frame.Payload(), false);
  }
  return true;
}

std::vector<FoundDevice> DeviceSearch::Devices() const {
  std::vector<FoundDevice> out;
  out.reserve(found_.size());
  for (const auto& [key, d] : found_) out.push_back(d);
  for (std::size_t i = 0; i < out.size(); ++i) {
    for (std::size_t j = i + 1; j < out.size(); ++j) {
      FoundDevice& a = out[i];
      FoundDevice& b = out[j];
      if (!a.config || !b.config) continue;
      const bool same_mac = !a.Mac().isEmpty() && a.Mac() == b.Mac();
      const bool same_ip = !a.config->dhcp && !b.config->dhcp && a.config->local_ip == b.config->local_ip &&
                           a.config->local_ip != Ipv4Octets{};
      if (same_mac || same_ip) a.conflict = b.conflict = true;
    }
  }
  return out;
}

}  // namespace velmora
