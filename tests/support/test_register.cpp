#include "support/test_register.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "registry/register_url.h"

namespace velmora::test {

bool TestRegister::Start(const std::string& engine) {
  if (engine == "sqlite") {
    url_ = QStringLiteral("sqlite:") + SqlitePath();
    return true;
  }
  server_ = std::make_unique<PgServer>();
  if (!server_->Start()) {
    reason_ = QStringLiteral("no PostgreSQL server for this test: ") + server_->Reason();
    return false;
  }
  url_ = server_->CreateDatabase(QStringLiteral("velmora_test"));
  reason_ = server_->Reason();
  return !url_.isEmpty();
}

QVariant TestRegister::Exec(const QString& sql) const {
  const auto u = RegisterUrl::Parse(url_, nullptr);
  QVariant value;
  {
    const bool sqlite = u->engine == RegisterUrl::Engine::Sqlite;
    QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", "test-register-exec");
    db.setDatabaseName(sqlite ? u->path : u->database);
    if (!sqlite) {
      db.setHostName(u->host);
      db.setPort(u->port);
      db.setUserName(u->user);
    }
    EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
    if (q.next()) value = q.value(0);
  }
  QSqlDatabase::removeDatabase("test-register-exec");
  return value;
}

}  // namespace velmora::test
