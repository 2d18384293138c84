#include "registry/device_register.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QVariant>

#include <atomic>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace velmora {

namespace {

// One statement of a migration; `postgres` null where both engines take the same text.
struct Step {
  const char* sqlite;
  const char* postgres = nullptr;
};

// kMigrations[v - 1] brings a register from version v - 1 to v. Append; never edit one
// that has shipped: registers out there are at every version.
const std::vector<std::vector<Step>>& Migrations() {
  static const std::vector<std::vector<Step>> m{
      {
          {"CREATE TABLE velmora_schema (version INTEGER NOT NULL)"},
          {"CREATE TABLE device_contacts ("
           " id INTEGER PRIMARY KEY AUTOINCREMENT,"
           " time_ms BIGINT NOT NULL, station TEXT NOT NULL, link TEXT NOT NULL, address TEXT NOT NULL,"
           " firmware_version TEXT, csq INTEGER, mac TEXT, local_ip TEXT, product_key TEXT, device_name TEXT,"
           " operation TEXT NOT NULL, result TEXT NOT NULL CHECK (result IN ('ok', 'failed')), error TEXT)",
           "CREATE TABLE device_contacts ("
           " id BIGSERIAL PRIMARY KEY,"
           " time_ms BIGINT NOT NULL, station TEXT NOT NULL, link TEXT NOT NULL, address TEXT NOT NULL,"
           " firmware_version TEXT, csq INTEGER, mac TEXT, local_ip TEXT, product_key TEXT, device_name TEXT,"
           " operation TEXT NOT NULL, result TEXT NOT NULL CHECK (result IN ('ok', 'failed')), error TEXT)"},
          // Newest first is how the register is read.
          {"CREATE INDEX device_contacts_time ON device_contacts (time_ms, id)"},
      },
  };
  return m;
}

constexpr const char* kColumns =
    "id, time_ms, station, link, address, firmware_version, csq, mac, local_ip, product_key, device_name, "
    "operation, result, error";

// Any number: the key several stations migrating one database at once queue on.
constexpr qint64 kMigrationLock = 0x76656c6d6f7261;

std::atomic<int> g_connections{0};

// A connection the server dropped is closed already; Qt would warn on stderr.
void Rollback(QSqlDatabase& db) {
  if (db.isOpen()) QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
}

// No write permission bit counts as read-only even for root, who could write anyway:
// a register someone froze stays frozen.
bool ReadOnlyFile(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return false;
  const auto write = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
  if (!(info.permissions() & write)) return true;
#ifndef Q_OS_WIN
  if (::access(QFile::encodeName(path).constData(), W_OK) != 0) return true;
#endif
  return false;
}

QVariant Text(const std::optional<QString>& v) { return v ? QVariant(*v) : QVariant(QMetaType::fromType<QString>()); }
QVariant Number(const std::optional<int>& v) { return v ? QVariant(*v) : QVariant(QMetaType::fromType<int>()); }
std::optional<QString> OptText(const QVariant& v) { return v.isNull() ? std::nullopt : std::optional(v.toString()); }
std::optional<int> OptNumber(const QVariant& v) { return v.isNull() ? std::nullopt : std::optional(v.toInt()); }

}  // namespace

DeviceRegister::DeviceRegister(RegisterUrl url) : url_(std::move(url)) {}

DeviceRegister::~DeviceRegister() {
  {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    db.close();
  }
  QSqlDatabase::removeDatabase(connection_);
}

std::unique_ptr<DeviceRegister> DeviceRegister::Open(const QString& url, QString* error) {
  auto parsed = RegisterUrl::Parse(url, error);
  if (!parsed) return nullptr;
  std::unique_ptr<DeviceRegister> r(new DeviceRegister(std::move(*parsed)));
  if (!r->Connect(error) || !r->Migrate(error)) return nullptr;
  return r;
}

QString DeviceRegister::Failure(const QString& what, const QString& detail) const {
  // One line: the engines' texts run over several.
  return QStringLiteral("register %1: %2: %3").arg(url_.Text(), what, detail.simplified());
}

bool DeviceRegister::Connect(QString* error) {
  const bool sqlite = url_.engine == RegisterUrl::Engine::Sqlite;
  const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
  connection_ = QStringLiteral("velmora-register-%1").arg(++g_connections);
  if (!QSqlDatabase::isDriverAvailable(driver)) {
    *error = Failure(QStringLiteral("open"), QStringLiteral("the Qt SQL driver %1 is not installed (Debian: %2)")
                                                 .arg(driver, sqlite ? QStringLiteral("libqt6sql6-sqlite")
                                                                     : QStringLiteral("libqt6sql6-psql")));
    return false;
  }
  QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection_);
  if (sqlite) {
    const QFileInfo file(url_.path);
    if (!QDir().mkpath(file.absolutePath())) {
      *error = Failure(QStringLiteral("open"), QStringLiteral("cannot create the folder %1").arg(file.absolutePath()));
      return false;
    }
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (ReadOnlyFile(url_.path)) {
      read_only_reason_ = QStringLiteral("the file %1 is read-only").arg(url_.path);
      options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    }
    db.setDatabaseName(url_.path);
    db.setConnectOptions(options);
  } else {
    if (!url_.host.isEmpty()) db.setHostName(url_.host);
    if (url_.port > 0) db.setPort(url_.port);
    if (!url_.user.isEmpty()) db.setUserName(url_.user);
    db.setDatabaseName(url_.database);
    // A server that went away must not hold a writer for minutes: libpq waits forever
    // by default.
    db.setConnectOptions(QStringLiteral("connect_timeout=10;tcp_user_timeout=15000;keepalives_idle=15;"
                                        "keepalives_interval=5;keepalives_count=3;application_name=velmora"));
  }
  if (!db.open()) {
    *error = Failure(QStringLiteral("open"), db.lastError().text());
    return false;
  }
  QSqlQuery q(db);
  if (sqlite) {
    // WAL lets readers go on while one writes; a read-only file keeps its journal mode.
    // A file system without shared memory keeps the rollback journal, which is slower
    // but as safe.
    if (!ReadOnly()) q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
  } else {
    q.exec(QStringLiteral("SET client_min_messages = error"));
    if (!q.exec(QStringLiteral("SET statement_timeout = %1").arg(kBusyTimeoutMs))) {
      *error = Failure(QStringLiteral("open"), q.lastError().text());
      return false;
    }
  }
  return true;
}

bool DeviceRegister::Migrate(QString* error) {
  QSqlDatabase db = QSqlDatabase::database(connection_, false);
  const bool sqlite = url_.engine == RegisterUrl::Engine::Sqlite;
  // The version the register holds: 0 before the first migration.
  const auto read_version = [&](int* version) {
    QSqlQuery v(db);
    const QString exists =
        sqlite ? QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'velmora_schema'")
               : QStringLiteral("SELECT COUNT(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename = 'velmora_schema'");
    bool ok = v.exec(exists) && v.next();
    *version = 0;
    if (ok && v.value(0).toInt() > 0) {
      ok = v.exec(QStringLiteral("SELECT MAX(version) FROM velmora_schema")) && v.next();
      if (ok) *version = v.value(0).toInt();
    }
    if (!ok) *error = Failure(QStringLiteral("schema"), v.lastError().text());
    return ok;
  };
  const auto failed = [&](const QSqlQuery& failing) {
    *error = Failure(QStringLiteral("schema"), failing.lastError().text());
    Rollback(db);
    return false;
  };

  QSqlQuery q(db);
  const auto newer = [&] {
    read_only_reason_ = QStringLiteral("its schema is version %1, newer than this program knows (%2); update Velmora to write to it")
                            .arg(schema_version_)
                            .arg(kSchemaVersion);
    // The engine itself refuses writes from here on, not only this class.
    q.exec(sqlite ? QStringLiteral("PRAGMA query_only = 1") : QStringLiteral("SET default_transaction_read_only = on"));
    return true;
  };
  if (!read_version(&schema_version_)) return false;
  if (schema_version_ > kSchemaVersion) return newer();
  if (schema_version_ == kSchemaVersion || ReadOnly()) return true;

  // Whoever comes first migrates; the others wait, then find the work done.
  if (!q.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))) return failed(q);
  if (!sqlite && !q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock))) return failed(q);
  if (!read_version(&schema_version_)) {
    Rollback(db);
    return false;
  }
  if (schema_version_ >= kSchemaVersion) {
    q.exec(QStringLiteral("ROLLBACK"));
    return schema_version_ > kSchemaVersion ? newer() : true;
  }
  const auto& steps = Migrations();
  for (int v = schema_version_; v < kSchemaVersion && v < static_cast<int>(steps.size()); ++v) {
    for (const Step& s : steps[static_cast<std::size_t>(v)]) {
      const char* sql = !sqlite && s.postgres ? s.postgres : s.sqlite;
      if (!q.exec(QString::fromLatin1(sql))) return failed(q);
    }
    schema_version_ = v + 1;
  }
  if (!q.exec(QStringLiteral("DELETE FROM velmora_schema")) ||
      !q.exec(QStringLiteral("INSERT INTO velmora_schema (version) VALUES (%1)").arg(schema_version_)) ||
      !q.exec(QStringLiteral("COMMIT"))) {
    return failed(q);
  }
  return true;
}

bool DeviceRegister::Writable(QString* error) const {
  if (!ReadOnly()) return true;
  *error = QStringLiteral("register %1 is read-only: %2").arg(url_.Text(), read_only_reason_);
  return false;
}

bool DeviceRegister::Add(const std::vector<RegisterRow>& rows, QString* error) {
  if (!Writable(error)) return false;
  if (rows.empty()) return true;
  QSqlDatabase db = QSqlDatabase::database(connection_, false);
  const bool sqlite = url_.engine == RegisterUrl::Engine::Sqlite;
  const QString station = QSysInfo::machineHostName();
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  QSqlQuery q(db);
  const auto failed = [&](const QSqlQuery& failing) {
    *error = Failure(QStringLiteral("write"), failing.lastError().text());
    Rollback(db);
    return false;
  };
  // IMMEDIATE takes the write lock up front, so the busy wait covers the whole
  // transaction: a deferred one could find the file changed under it and give up.
  if (!q.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))) return failed(q);
  {
    QSqlQuery insert(db);
    if (!insert.prepare(QStringLiteral("INSERT INTO device_contacts (time_ms, station, link, address, firmware_version, csq, mac, "
                                       "local_ip, product_key, device_name, operation, result, error) "
                                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))) {
      return failed(insert);
    }
    for (const RegisterRow& r : rows) {
      insert.bindValue(0, r.time.isValid() ? r.time.toMSecsSinceEpoch() : now);
      insert.bindValue(1, r.station.isEmpty() ? station : r.station);
      insert.bindValue(2, r.link);
      insert.bindValue(3, r.address);
      insert.bindValue(4, Text(r.firmware_version));
      insert.bindValue(5, Number(r.csq));
      insert.bindValue(6, Text(r.mac));
      insert.bindValue(7, Text(r.local_ip));
      insert.bindValue(8, Text(r.product_key));
      insert.bindValue(9, Text(r.device_name));
      insert.bindValue(10, r.operation);
      insert.bindValue(11, r.ok ? QStringLiteral("ok") : QStringLiteral("failed"));
      insert.bindValue(12, r.error.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(r.error));
      if (!insert.exec()) return failed(insert);
    }
  }
  if (!q.exec(QStringLiteral("COMMIT"))) return failed(q);
  return true;
}

std::optional<std::vector<RegisterRow>> DeviceRegister::Rows(const RegisterFilter& filter, int limit, QString* error) const {
  QSqlDatabase db = QSqlDatabase::database(connection_, false);
  QString sql = QStringLiteral("SELECT %1 FROM device_contacts").arg(QLatin1String(kColumns));
  QStringList where;
  if (filter.since.isValid()) where << QStringLiteral("time_ms >= ?");
  if (!filter.address.isEmpty()) where << QStringLiteral("address = ?");
  if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
  sql += QStringLiteral(" ORDER BY time_ms DESC, id DESC");
  if (limit >= 0) sql += QStringLiteral(" LIMIT %1").arg(limit);
  QSqlQuery q(db);
  q.setForwardOnly(true);
  if (!q.prepare(sql)) {
    *error = Failure(QStringLiteral("read"), q.lastError().text());
    return std::nullopt;
  }
  int bound = 0;
  if (filter.since.isValid()) q.bindValue(bound++, filter.since.toMSecsSinceEpoch());
  if (!filter.address.isEmpty()) q.bindValue(bound++, filter.address);
  if (!q.exec()) {
    *error = Failure(QStringLiteral("read"), q.lastError().text());
    return std::nullopt;
  }
  std::vector<RegisterRow> rows;
  while (q.next()) {
    RegisterRow r;
    r.id = q.value(0).toLongLong();
    r.time = QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong(), Qt::UTC);
    r.station = q.value(2).toString();
    r.link = q.value(3).toString();
    r.address = q.value(4).toString();
    r.firmware_version = OptText(q.value(5));
    r.csq = OptNumber(q.value(6));
    r.mac = OptText(q.value(7));
    r.local_ip = OptText(q.value(8));
    r.product_key = OptText(q.value(9));
    r.device_name = OptText(q.value(10));
    r.operation = q.value(11).toString();
    r.ok = q.value(12).toString() == QLatin1String("ok");
    r.error = q.value(13).toString();
    rows.push_back(std::move(r));
  }
  if (q.lastError().isValid()) {
    *error = Failure(QStringLiteral("read"), q.lastError().text());
    return std::nullopt;
  }
  return rows;
}

std::optional<qint64> DeviceRegister::Count(QString* error) const {
  QSqlQuery q(QSqlDatabase::database(connection_, false));
  if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM device_contacts")) || !q.next()) {
    *error = Failure(QStringLiteral("read"), q.lastError().text());
    return std::nullopt;
  }
  return q.value(0).toLongLong();
}

bool DeviceRegister::Clear(QString* error) {
  if (!Writable(error)) return false;
  QSqlQuery q(QSqlDatabase::database(connection_, false));
  if (!q.exec(QStringLiteral("DELETE FROM device_contacts"))) {
    *error = Failure(QStringLiteral("clear"), q.lastError().text());
    return false;
  }
  return true;
}

}  // namespace velmora
