#include "registry/register_url.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include "registry/register_row.h"

namespace velmora {

namespace {

constexpr const char* kForms = "use sqlite:PATH or postgresql://USER@HOST[:PORT]/DB";

bool Fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}

// USER@HOST[:PORT]/DB[?host=FOLDER]
bool ParsePostgres(const QString& url, const QString& rest, RegisterUrl& r, QString* error) {
  QString authority = rest.section(QLatin1Char('/'), 0, 0);
  QString tail = rest.section(QLatin1Char('/'), 1);
  QString query;
  if (const int q = tail.indexOf(QLatin1Char('?')); q >= 0) {
    query = tail.mid(q + 1);
    tail = tail.left(q);
  }
  r.database = QUrl::fromPercentEncoding(tail.toUtf8());
  if (r.database.isEmpty() || r.database.contains(QLatin1Char('/'))) {
    return Fail(error, QStringLiteral("register \"%1\" names no database: %2").arg(url, QLatin1String(kForms)));
  }
  if (const int at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
    const QString user = authority.left(at);
    if (user.contains(QLatin1Char(':'))) {
      return Fail(error, QStringLiteral("register \"%1\": no password in the URL, it would show in the process list; "
                                        "put it in ~/.pgpass or PGPASSWORD")
                             .arg(url.section(QLatin1Char(':'), 0, 1) + QStringLiteral(":...")));
    }
    r.user = QUrl::fromPercentEncoding(user.toUtf8());
    authority = authority.mid(at + 1);
  }
  QString port;
  if (authority.startsWith(QLatin1Char('['))) {  // [IPv6]:port
    const int close = authority.indexOf(QLatin1Char(']'));
    if (close < 0) return Fail(error, QStringLiteral("register \"%1\": unclosed [ in the host").arg(url));
    r.host = authority.mid(1, close - 1);
    port = authority.mid(close + 1);
    if (!port.isEmpty() && !port.startsWith(QLatin1Char(':'))) {
      return Fail(error, QStringLiteral("register \"%1\": bad host").arg(url));
    }
    port = port.mid(1);
  } else {
    const int colon = authority.lastIndexOf(QLatin1Char(':'));
    r.host = QUrl::fromPercentEncoding((colon >= 0 ? authority.left(colon) : authority).toUtf8());
    if (colon >= 0) port = authority.mid(colon + 1);
  }
  if (!port.isEmpty()) {
    bool ok = false;
    r.port = port.toInt(&ok);
    if (!ok || r.port < 1 || r.port > 65535) {
      return Fail(error, QStringLiteral("register \"%1\": the port must be a number from 1 to 65535").arg(url));
    }
  }
  for (const QString& item : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
    const QString key = item.section(QLatin1Char('='), 0, 0);
    const QString value = QUrl::fromPercentEncoding(item.section(QLatin1Char('='), 1).toUtf8());
    if (key == QLatin1String("host")) {
      r.host = value;
    } else {
      return Fail(error, QStringLiteral("register \"%1\": unknown parameter \"%2\" (only host= is read)").arg(url, key));
    }
  }
  return true;
}

}  // namespace

QString UdpDeviceAddress(const QString& ip, quint16 port) {
  return port == 21 ? ip : ip + QLatin1Char(':') + QString::number(port);
}

std::optional<RegisterUrl> RegisterUrl::Parse(const QString& url, QString* error) {
  RegisterUrl r;
  if (url.startsWith(QLatin1String("sqlite:"))) {
    QString path = url.mid(7);
    if (path.startsWith(QLatin1String("//"))) path = path.mid(2);  // sqlite:///abs/path
    if (path.isEmpty()) {
      Fail(error, QStringLiteral("register \"%1\" names no file: %2").arg(url, QLatin1String(kForms)));
      return std::nullopt;
    }
    r.path = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return r;
  }
  for (const char* scheme : {"postgresql://", "postgres://"}) {
    if (!url.startsWith(QLatin1String(scheme))) continue;
    r.engine = Engine::Postgres;
    if (!ParsePostgres(url, url.mid(static_cast<int>(qstrlen(scheme))), r, error)) return std::nullopt;
    return r;
  }
  Fail(error, QStringLiteral("unknown register \"%1\": %2").arg(url, QLatin1String(kForms)));
  return std::nullopt;
}

QString RegisterUrl::Text() const {
  if (engine == Engine::Sqlite) return QStringLiteral("sqlite:") + path;
  QString text = QStringLiteral("postgresql://");
  if (!user.isEmpty()) text += QString::fromUtf8(QUrl::toPercentEncoding(user)) + QLatin1Char('@');
  const bool folder = host.startsWith(QLatin1Char('/'));
  if (!folder) text += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
  if (port > 0) text += QLatin1Char(':') + QString::number(port);
  text += QLatin1Char('/') + QString::fromUtf8(QUrl::toPercentEncoding(database));
  if (folder) text += QStringLiteral("?host=") + host;
  return text;
}

QString DefaultRegisterPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/velmora/velmora/register.sqlite");
}

QString DefaultRegisterUrl() { return QStringLiteral("sqlite:") + DefaultRegisterPath(); }

QString RegisterUrlFromEnvironment() {
  const QString env = qEnvironmentVariable("VELMORA_REGISTER");
  return env.isEmpty() ? DefaultRegisterUrl() : env;
}

}  // namespace velmora
