#include "cli/link_options.h"

#include <QFileInfo>
#include <QHash>
#include <QHostAddress>

#include <optional>

#include "transport/udp_hub.h"

namespace velmora::cli {

std::optional<int> Number(const QString& text, int lo, int hi) {
  bool ok = false;
  const int v = text.toInt(&ok);
  if (!ok || v < lo || v > hi) return std::nullopt;
  return v;
}

std::optional<int> ParityNumber(const QString& name) {
  static const QStringList kNames{QStringLiteral("none"), QStringLiteral("odd"), QStringLiteral("even"),
                                  QStringLiteral("mark"), QStringLiteral("space")};
  const auto i = kNames.indexOf(name.toLower());
  if (i < 0) return std::nullopt;
  return static_cast<int>(i);
}

LinkOptions ScanLinks(const QCommandLineParser& parser) {
  // Qt gives the option names in the order found, and each option's values in the order
  // given: the n-th time a link option appears, its n-th value is the one it came with.
  // None of them has a second name, so counting by name counts the option.
  static const QStringList kLinkOptions{QStringLiteral("serial"), QStringLiteral("baud"),
                                        QStringLiteral("parity"), QStringLiteral("udp"),
                                        QStringLiteral("device-port"), QStringLiteral("local-port")};
  LinkOptions out;
  DeviceLink* last_serial = nullptr;
  DeviceLink* last_udp = nullptr;
  bool local_port_set = false;
  const QStringList names = parser.optionNames();
  // The links are pointed at while they are added.
  out.links.reserve(static_cast<std::size_t>(names.size()));
  auto fail = [&](const QString& text) {
    out.links.clear();
    out.error = text;
    return out;
  };
  QHash<QString, qsizetype> taken;
  for (const QString& name : names) {
    if (!kLinkOptions.contains(name)) continue;
    const QString v = parser.values(name).value(taken[name]++);
    if (name == QLatin1String("serial")) {
      if (v.isEmpty()) return fail(QStringLiteral("--serial needs a device path"));
      DeviceLink device;
      device.kind = Link::Serial;
      // A bare name is a system port (ttyUSB0 is /dev/ttyUSB0) unless a file of that name
      // is right here: a path relative to the working folder.
      const QFileInfo here(v);
      device.path = !v.startsWith(QLatin1Char('/')) && here.exists() ? here.absoluteFilePath() : v;
      for (const DeviceLink& l : out.links) {
        if (l.kind == Link::Serial && l.path == device.path) return fail(QStringLiteral("--serial %1 is given twice").arg(v));
      }
      out.links.push_back(device);
      last_serial = &out.links.back();
    } else if (name == QLatin1String("baud")) {
      if (!last_serial) return fail(QStringLiteral("--baud belongs after the --serial it sets"));
      const auto n = Number(v, 1, 4'000'000);
      if (!n) return fail(QStringLiteral("--baud takes a whole number from 1 to 4000000, not \"%1\"").arg(v));
      last_serial->baud = *n;
    } else if (name == QLatin1String("parity")) {
      if (!last_serial) return fail(QStringLiteral("--parity belongs after the --serial it sets"));
      const auto p = ParityNumber(v);
      if (!p) return fail(QStringLiteral("--parity takes none, odd, even, mark or space, not \"%1\"").arg(v));
      last_serial->parity = *p;
    } else if (name == QLatin1String("udp")) {
      const QHostAddress address(v);
      bool ipv4 = false;
      const quint32 ip = address.toIPv4Address(&ipv4);
      if (!ipv4) return fail(QStringLiteral("--udp takes an IPv4 address, not \"%1\"").arg(v));
      if (ip == 0) return fail(QStringLiteral("--udp %1 is not a device address").arg(v));
      for (const DeviceLink& l : out.links) {
        if (l.kind == Link::Udp && l.address.toIPv4Address() == ip) {
          return fail(QStringLiteral("--udp %1 is given twice: its replies could not be told apart").arg(v));
        }
      }
      DeviceLink device;
      device.kind = Link::Udp;
      device.address = QHostAddress(ip);
      out.links.push_back(device);
      last_udp = &out.links.back();
    } else if (name == QLatin1String("device-port")) {
      if (!last_udp) return fail(QStringLiteral("--device-port belongs after the --udp it sets"));
      const auto n = Number(v, 1, 65535);
      if (!n) return fail(QStringLiteral("--device-port takes a port from 1 to 65535, not \"%1\"").arg(v));
      last_udp->device_port = static_cast<quint16>(*n);
    } else if (name == QLatin1String("local-port")) {
      const auto n = Number(v, 1, 65535);
      if (!n) return fail(QStringLiteral("--local-port takes a port from 1 to 65535, not \"%1\"").arg(v));
      if (local_port_set && out.local_port != *n) {
        return fail(QStringLiteral("--local-port is given twice: every UDP device shares one local port"));
      }
      out.local_port = static_cast<quint16>(*n);
      local_port_set = true;
    }
  }
  // Replies are told apart by their sender's address; a broadcast address has no single
  // sender, so it is allowed only when it is the one UDP device, which then hears anyone.
  int udp_count = 0;
  for (const DeviceLink& l : out.links) udp_count += l.kind == Link::Udp ? 1 : 0;
  for (DeviceLink& l : out.links) {
    if (l.kind != Link::Udp || UdpHub::IsUnicast(l.address)) continue;
    if (udp_count > 1) {
      return fail(QStringLiteral("--udp %1 is a broadcast address: with several UDP devices each --udp must be a "
                                 "unicast address, so that replies can be told apart by their sender")
                      .arg(l.address.toString()));
    }
    l.any_sender = true;
  }
  return out;
}

}  // namespace velmora::cli
