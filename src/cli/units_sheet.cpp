#include "cli/units_sheet.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <set>

#include "cli/link_options.h"
#include "config/mac_generator.h"
#include "discovery/device_search.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"
#include "protocol/gbk.h"
#include "transport/udp_hub.h"

namespace velmora::cli {

namespace {

// RFC 4180 rows: commas, fields in double quotes may hold commas, quotes ("") and line
// ends. Each row comes with the line it starts on, for messages.
struct CsvRow {
  int line = 0;
  QStringList cells;
};

std::vector<CsvRow> SplitCsv(const QString& text, QString* error) {
  std::vector<CsvRow> rows;
  CsvRow row{1, {}};
  QString cell;
  bool quoted = false;
  bool cell_started = false;
  int line = 1;
  auto end_cell = [&] {
    row.cells << cell;
    cell.clear();
    cell_started = false;
  };
  auto end_row = [&] {
    end_cell();
    // Blank lines are not units.
    if (!(row.cells.size() == 1 && row.cells[0].trimmed().isEmpty())) rows.push_back(row);
    row = CsvRow{line, {}};
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == QLatin1Char('"')) {
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
          cell += c;
          ++i;
        } else {
          quoted = false;
        }
      } else {
        if (c == QLatin1Char('\n')) ++line;
        cell += c;
      }
      continue;
    }
    if (c == QLatin1Char('"') && !cell_started) {
      quoted = true;
      cell_started = true;
    } else if (c == QLatin1Char(',')) {
      end_cell();
    } else if (c == QLatin1Char('\r')) {
      // Part of a line end; a lone CR is dropped as well.
    } else if (c == QLatin1Char('\n')) {
      ++line;
      end_row();
    } else {
      cell += c;
      cell_started = true;
    }
  }
  if (quoted) {
    *error = QStringLiteral("a quoted field that starts on line %1 never ends").arg(row.line);
    return {};
  }
  if (cell_started || !row.cells.isEmpty() || !cell.isEmpty()) end_row();
  return rows;
}

// The cell's text as the JSON value the profile's key holds: the same type as in `like`.
std::optional<QJsonValue> CellValue(const QString& text, const QJsonValue& like) {
  if (like.isBool()) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes")) return QJsonValue(true);
    if (t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no")) return QJsonValue(false);
    return std::nullopt;
  }
  if (like.isDouble()) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok) return std::nullopt;
    return QJsonValue(v);
  }
  return QJsonValue(text);
}

QString ColumnLetter(int index) {
  QString s;
  for (int n = index + 1; n > 0; n = (n - 1) / 26) s.prepend(QChar(u'A' + (n - 1) % 26));
  return s;
}

// A locally administered unicast MAC, one per unit of the run: the window's generator on
// milliseconds two apart (it evens the last byte), with the administered bit set.
QString AutoMac(int64_t base_ms, int unit) {
  auto mac = MacFromMilliseconds(base_ms + 2 * static_cast<int64_t>(unit));
  mac[0] = static_cast<uint8_t>((mac[0] & 0xFC) | 0x02);
  return CanonicalMac(MacText(mac).toStdString());
}

}  // namespace

QStringList IdentityFields() {
  return {QStringLiteral("config.local_ip"), QStringLiteral("config.mac"), QStringLiteral("mqtt.device_name"),
          QStringLiteral("mqtt.device_secret")};
}

std::optional<DeviceLink> ParseUnitLink(const QString& text, QString* error) {
  DeviceLink link;
  if (text.startsWith(QLatin1String("serial:"))) {
    QString rest = text.mid(7);
    QString settings;
    if (const auto at = rest.lastIndexOf(QLatin1Char('@')); at >= 0) {
      settings = rest.mid(at + 1);
      rest = rest.left(at);
    }
    if (rest.isEmpty()) {
      *error = QStringLiteral("\"%1\" names no serial device").arg(text);
      return std::nullopt;
    }
    link.kind = Link::Serial;
    const QFileInfo here(rest);
    link.path = !rest.startsWith(QLatin1Char('/')) && here.exists() ? here.absoluteFilePath() : rest;
    if (!settings.isEmpty()) {
      const QStringList parts = settings.split(QLatin1Char(','));
      const auto baud = Number(parts[0], 1, 4'000'000);
      const auto parity = parts.size() > 1 ? ParityNumber(parts[1]) : std::optional<int>(0);
      if (!baud || !parity || parts.size() > 2) {
        *error = QStringLiteral("\"%1\": after @ come BAUD[,PARITY] (none, odd, even, mark, space)").arg(text);
        return std::nullopt;
      }
      link.baud = *baud;
      link.parity = *parity;
    }
    return link;
  }
  if (text.startsWith(QLatin1String("udp:"))) {
    QString address = text.mid(4);
    link.kind = Link::Udp;
    if (const auto colon = address.indexOf(QLatin1Char(':')); colon >= 0) {
      const auto port = Number(address.mid(colon + 1), 1, 65535);
      if (!port) {
        *error = QStringLiteral("\"%1\": the port must be from 1 to 65535").arg(text);
        return std::nullopt;
      }
      link.device_port = static_cast<quint16>(*port);
      address = address.left(colon);
    }
    link.address = QHostAddress(address);
    bool ipv4 = false;
    link.address.toIPv4Address(&ipv4);
    if (!ipv4 || !UdpHub::IsUnicast(link.address)) {
      *error = QStringLiteral("\"%1\": a unit is one device: give its own IPv4 address, not a broadcast").arg(text);
      return std::nullopt;
    }
    return link;
  }
  *error = QStringLiteral("\"%1\" is neither serial:PATH[@BAUD[,PARITY]] nor udp:ADDRESS[:PORT]").arg(text);
  return std::nullopt;
}

std::vector<Unit> ReadUnitsSheet(const QString& path, const Profile& base, QString* error) {
  const QString name = QFileInfo(path).fileName();
  auto fail = [&](const QString& text) {
    *error = path + QStringLiteral(": ") + text;
    return std::vector<Unit>{};
  };
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
  QString text = QString::fromUtf8(file.readAll());
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  QString csv_error;
  const std::vector<CsvRow> rows = SplitCsv(text, &csv_error);
  if (!csv_error.isEmpty()) return fail(csv_error);
  if (rows.empty()) return fail(QStringLiteral("the sheet is empty; its first row names the columns"));

  const QJsonObject profile = QJsonDocument::fromJson(ProfileJson(base)).object();
  const QStringList header = rows[0].cells;
  int link_column = -1;
  for (int c = 0; c < header.size(); ++c) {
    const QString key = header[c].trimmed();
    if (key == QLatin1String("link")) {
      if (link_column >= 0) return fail(QStringLiteral("the column link is given twice"));
      link_column = c;
      continue;
    }
    const QStringList parts = key.split(QLatin1Char('.'));
    const bool known_section = parts.size() == 2 && (parts[0] == QLatin1String("config") || parts[0] == QLatin1String("mqtt"));
    if (!known_section) {
      return fail(QStringLiteral("column %1 (%2): not a profile key; use config.KEY or mqtt.KEY").arg(ColumnLetter(c), key));
    }
    if (!profile.contains(parts[0])) {
      return fail(QStringLiteral("column %1 (%2): the command writes no %3 section, so this value would never reach a device")
                      .arg(ColumnLetter(c), key, parts[0]));
    }
    if (!profile[parts[0]].toObject().contains(parts[1])) {
      return fail(QStringLiteral("column %1 (%2): %3 has no key %4").arg(ColumnLetter(c), key, parts[0], parts[1]));
    }
    if (header.indexOf(header[c]) != c) return fail(QStringLiteral("the column %1 is given twice").arg(key));
  }
  if (link_column < 0) return fail(QStringLiteral("no column named link: each row needs the device it is for"));

  std::vector<Unit> units;
  const int64_t now_ms = QDateTime::currentMSecsSinceEpoch();
  std::set<QString> links;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const CsvRow& row = rows[r];
    const QString where = QStringLiteral("row %1").arg(row.line);
    if (row.cells.size() > header.size()) return fail(where + QStringLiteral(": more cells than the header names"));
    QJsonObject doc = profile;
    Unit unit;
    for (int c = 0; c < header.size(); ++c) {
      const QString cell = c < row.cells.size() ? row.cells[c] : QString();
      const QString key = header[c].trimmed();
      const QString at = QStringLiteral("%1, column %2 (%3)").arg(where, ColumnLetter(c), key);
      if (c == link_column) {
        QString link_error;
        const auto link = ParseUnitLink(cell.trimmed(), &link_error);
        if (!link) return fail(at + QStringLiteral(": ") + link_error);
        unit.link = *link;
        if (!links.insert(link->Name()).second) return fail(at + QStringLiteral(": %1 is the link of an earlier row").arg(link->Name()));
        continue;
      }
      if (cell.isEmpty()) continue;
      const QStringList parts = key.split(QLatin1Char('.'));
      QJsonObject section = doc[parts[0]].toObject();
      QString value_text = cell;
      if (key == QLatin1String("config.mac") && cell.trimmed().compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0) {
        value_text = AutoMac(now_ms, static_cast<int>(r));
      }
      const auto value = CellValue(value_text, section[parts[1]]);
      if (!value) {
        return fail(at + QStringLiteral(": \"%1\" is not a %2").arg(cell, section[parts[1]].isBool() ? QStringLiteral("true or false") : QStringLiteral("number")));
      }
      section[parts[1]] = *value;
      doc[parts[0]] = section;
    }
    const ProfileResult parsed = ParseProfile(QJsonDocument(doc).toJson());
    if (!parsed.profile) {
      // The reader names the field; the sheet's reader wants its column too.
      for (int c = 0; c < header.size(); ++c) {
        const QString key = header[c].trimmed();
        if (c != link_column && parsed.error.startsWith(key + QLatin1Char(':'))) {
          return fail(QStringLiteral("%1, column %2 (%3): %4").arg(where, ColumnLetter(c), key, parsed.error.mid(key.size() + 1).trimmed()));
        }
      }
      return fail(QStringLiteral("%1: %2").arg(where, parsed.error));
    }
    unit.profile = parsed.profile;
    unit.source = QStringLiteral("%1 %2").arg(name, where);
    units.push_back(std::move(unit));
  }
  if (units.empty()) return fail(QStringLiteral("the sheet names no unit below its header"));
  return units;
}

QStringList SharedIdentity(const std::vector<const Profile*>& profiles, const QStringList& allowed) {
  // field -> value -> how many units have it
  std::map<QString, std::map<QString, int>> seen;
  for (const Profile* p : profiles) {
    if (p->config) {
      const ConfigForm& c = *p->config;
      if (!c.dhcp && c.local_ip != Ipv4Octets{}) {
        seen[QStringLiteral("config.local_ip")]
            [QStringLiteral("%1.%2.%3.%4").arg(c.local_ip[0]).arg(c.local_ip[1]).arg(c.local_ip[2]).arg(c.local_ip[3])]++;
      }
      if (const QString mac = CanonicalMac(c.mac); !mac.isEmpty()) seen[QStringLiteral("config.mac")][mac]++;
    }
    if (p->mqtt) {
      if (!p->mqtt->device_name.empty()) seen[QStringLiteral("mqtt.device_name")][FromGbk(p->mqtt->device_name)]++;
      // The secret itself is never shown: only that it repeats.
      if (!p->mqtt->device_secret.empty()) seen[QStringLiteral("mqtt.device_secret")][QString::fromStdString(p->mqtt->device_secret)]++;
    }
  }
  QStringList messages;
  for (const QString& field : IdentityFields()) {
    if (allowed.contains(field)) continue;
    for (const auto& [value, count] : seen[field]) {
      if (count < 2) continue;
      const QString shown = field == QLatin1String("mqtt.device_secret") ? QStringLiteral("(the same secret)") : value;
      messages << QStringLiteral("%1 %2 would go to %3 devices").arg(field, shown).arg(count);
      break;
    }
  }
  return messages;
}

}  // namespace velmora::cli
