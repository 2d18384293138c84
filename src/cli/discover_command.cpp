#include "cli/discover_command.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include "profile/profile_writer.h"

namespace velmora::cli {

namespace {

// The network mode as a profile names it, so the same words serve both.
QJsonValue NetworkMode(const ConfigForm& form) {
  Profile p;
  p.config = form;
  return QJsonDocument::fromJson(ProfileJson(p)).object().value(QStringLiteral("config")).toObject().value(QStringLiteral("network_mode"));
}

QString Line(const FoundDevice& d) {
  QString line = QStringLiteral("%1:%2").arg(d.Address()).arg(d.from.port);
  line += QStringLiteral("  ") + (d.version ? *d.version : QStringLiteral("(no version answer)"));
  if (d.config) {
    line += QStringLiteral("  mac %1  ip %2  dhcp %3  %4")
                .arg(d.Mac().isEmpty() ? QStringLiteral("none") : d.Mac(), d.LocalIp(),
                     d.config->dhcp ? QStringLiteral("on") : QStringLiteral("off"), NetworkMode(*d.config).toString());
  } else {
    line += QStringLiteral("  (no configuration answer)");
  }
  if (d.conflict) line += QStringLiteral("  CONFLICT: another device has the same MAC or local IP");
  return line;
}

}  // namespace

QString DiscoverCommand::Description() const {
  return QStringLiteral("Find the devices that answer a broadcast --udp ADDRESS: address, version, MAC, local IP.");
}

void DiscoverCommand::Print(Output& out, const std::vector<FoundDevice>& devices) {
  for (const FoundDevice& d : devices) {
    if (!out.Json()) {
      out.Document(Line(d).toUtf8());
      continue;
    }
    QJsonObject o{{QStringLiteral("address"), d.Address()},
                  {QStringLiteral("port"), d.from.port},
                  {QStringLiteral("version"), d.version ? QJsonValue(*d.version) : QJsonValue()},
                  {QStringLiteral("mac"), d.config ? QJsonValue(d.Mac()) : QJsonValue()},
                  {QStringLiteral("local_ip"), d.config ? QJsonValue(d.LocalIp()) : QJsonValue()},
                  {QStringLiteral("dhcp"), d.config ? QJsonValue(d.config->dhcp) : QJsonValue()},
                  {QStringLiteral("network_mode"), d.config ? NetworkMode(*d.config) : QJsonValue()},
                  {QStringLiteral("conflict"), d.conflict}};
    out.JsonLine(o);
  }
}

QString DiscoverCommand::List(const std::vector<FoundDevice>& devices) {
  QString text;
  for (const FoundDevice& d : devices) text += QStringLiteral("\n  ") + Line(d);
  return text;
}

}  // namespace velmora::cli
