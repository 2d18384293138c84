#include "cli/report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace velmora::cli {

namespace {

const QStringList kColumns{QStringLiteral("started"),     QStringLiteral("command"),        QStringLiteral("link"),
                           QStringLiteral("address"),     QStringLiteral("version"),        QStringLiteral("version_after"),
                           QStringLiteral("csq"),         QStringLiteral("mac"),            QStringLiteral("local_ip"),
                           QStringLiteral("mqtt_device_name"), QStringLiteral("steps"),     QStringLiteral("result"),
                           QStringLiteral("error"),       QStringLiteral("seconds")};

QString CsvCell(const QString& text) {
  // Quoted when it must be; a leading sign is quoted too, so a spreadsheet does not take
  // a device's text for a formula.
  static const QString kSpecial = QStringLiteral(",\"\r\n");
  const bool formula = !text.isEmpty() && QStringLiteral("=+-@").contains(text[0]);
  bool quote = formula;
  for (const QChar c : text) quote = quote || kSpecial.contains(c);
  if (!quote) return text;
  QString body = text;
  body.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + (formula ? QStringLiteral("'") : QString()) + body + QLatin1Char('"');
}

QStringList Cells(const ReportRow& r) {
  const UnitFacts& f = r.facts;
  return {r.started.toString(Qt::ISODateWithMs),
          r.command,
          r.link,
          r.address,
          f.version,
          f.version_after,
          f.csq ? QString::number(*f.csq) : QString(),
          f.mac,
          f.local_ip,
          f.device_name,
          f.steps.join(QLatin1Char('+')),
          r.status == 0 ? QStringLiteral("ok") : QStringLiteral("failed"),
          r.error,
          QString::number(r.seconds, 'f', 3)};
}

}  // namespace

bool ReportWriter::KnownFormat(const QString& path) {
  const QString p = path.toLower();
  return p.endsWith(QLatin1String(".csv")) || p.endsWith(QLatin1String(".jsonl")) || p.endsWith(QLatin1String(".json"));
}

bool ReportWriter::Open(const QString& path, QString* error) {
  if (!KnownFormat(path)) {
    *error = QStringLiteral("--report %1: the file must end in .csv or .jsonl").arg(path);
    return false;
  }
  csv_ = path.toLower().endsWith(QLatin1String(".csv"));
  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
    *error = QStringLiteral("--report %1: %2").arg(path, file_.errorString());
    return false;
  }
  if (csv_ && file_.size() == 0) {
    const QByteArray header = kColumns.join(QLatin1Char(',')).toUtf8() + "\r\n";
    if (file_.write(header) != header.size() || !file_.flush()) {
      *error = QStringLiteral("--report %1: %2").arg(path, file_.errorString());
      return false;
    }
  }
  return true;
}

bool ReportWriter::Write(const ReportRow& row, QString* error) {
  QByteArray line;
  const QStringList cells = Cells(row);
  if (csv_) {
    QStringList quoted;
    for (const QString& c : cells) quoted << CsvCell(c);
    line = quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
  } else {
    QJsonObject o;
    for (qsizetype i = 0; i < kColumns.size(); ++i) o.insert(kColumns[i], cells[i]);
    o.insert(QStringLiteral("steps"), QJsonArray::fromStringList(row.facts.steps));
    if (row.facts.csq) o.insert(QStringLiteral("csq"), *row.facts.csq);
    o.insert(QStringLiteral("seconds"), row.seconds);
    line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
  }
  // Written in one piece and handed to the disk before the next unit starts.
  bool ok = file_.write(line) == line.size() && file_.flush();
#ifdef Q_OS_UNIX
  ok = ok && ::fsync(file_.handle()) == 0;
#endif
  if (!ok) *error = QStringLiteral("--report %1: %2").arg(file_.fileName(), file_.errorString());
  return ok;
}

}  // namespace velmora::cli
