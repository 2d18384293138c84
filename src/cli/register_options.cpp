#include "cli/register_options.h"

#include <QRegularExpression>

#include "registry/register_url.h"

namespace velmora::cli {

void AddRegisterOptions(QCommandLineParser& parser) {
  parser.addOption(QCommandLineOption(QStringLiteral("register"),
                                      QStringLiteral("Record every device result in the device register at URL: "
                                                     "sqlite:PATH or postgresql://USER@HOST[:PORT]/DB (default: "
                                                     "$VELMORA_REGISTER, else the window's own file, %1).")
                                          .arg(DefaultRegisterPath()),
                                      QStringLiteral("URL")));
  parser.addOption(QCommandLineOption(QStringLiteral("no-register"), QStringLiteral("Record nothing in the device register.")));
  parser.addOption(QCommandLineOption(QStringLiteral("since"),
                                      QStringLiteral("records: rows from TIME on (2024-05-01, \"2024-05-01 14:30\", or 30m, 12h, 7d back)."),
                                      QStringLiteral("TIME")));
  parser.addOption(QCommandLineOption(QStringLiteral("address"), QStringLiteral("records: rows of device A only (a serial port path or an IP address)."),
                                      QStringLiteral("A")));
}

bool ReadRegisterOptions(const QCommandLineParser& parser, const QString& command, RegisterOptions* options,
                         QString* error) {
  const auto once = [&](const char* name) {
    if (parser.values(QLatin1String(name)).size() <= 1) return true;
    *error = QStringLiteral("--%1 is given twice").arg(QLatin1String(name));
    return false;
  };
  if (!once("register") || !once("since") || !once("address")) return false;
  if (parser.isSet(QStringLiteral("no-register"))) {
    if (parser.isSet(QStringLiteral("register"))) {
      *error = QStringLiteral("--register and --no-register contradict each other");
      return false;
    }
    options->url.clear();
  } else {
    options->url = parser.isSet(QStringLiteral("register")) ? parser.value(QStringLiteral("register")) : RegisterUrlFromEnvironment();
    if (!RegisterUrl::Parse(options->url, error)) return false;
  }
  const bool records = command == QLatin1String("records");
  for (const char* name : {"since", "address"}) {
    if (parser.isSet(QLatin1String(name)) && !records) {
      *error = QStringLiteral("--%1 goes with records, not with %2").arg(QLatin1String(name), command);
      return false;
    }
  }
  if (parser.isSet(QStringLiteral("since"))) {
    const QString text = parser.value(QStringLiteral("since"));
    options->since = ParseSince(text, QDateTime::currentDateTime());
    if (!options->since.isValid()) {
      *error = QStringLiteral("--since takes a date and time (2024-05-01, \"2024-05-01 14:30\") or a span back "
                              "(90s, 30m, 12h, 7d), not \"%1\"")
                   .arg(text);
      return false;
    }
  }
  options->address = parser.value(QStringLiteral("address"));
  return true;
}

QDateTime ParseSince(const QString& text, const QDateTime& now) {
  static const QRegularExpression span(QStringLiteral("^(\\d{1,6})([smhd])$"));
  if (const auto m = span.match(text.trimmed()); m.hasMatch()) {
    const qint64 n = m.captured(1).toLongLong();
    const char unit = m.captured(2).at(0).toLatin1();
    const qint64 seconds = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : 86400;
    return now.addSecs(-n * seconds);
  }
  QString t = text.trimmed();
  t.replace(QLatin1Char(' '), QLatin1Char('T'));
  QDateTime at = QDateTime::fromString(t, Qt::ISODateWithMs);
  if (!at.isValid()) {
    const QDate day = QDate::fromString(t, Qt::ISODate);
    if (day.isValid()) at = day.startOfDay();
  }
  return at;
}

}  // namespace velmora::cli
