#include "support/pg_server.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QVersionNumber>

#include <atomic>

#include <pwd.h>
#include <unistd.h>

namespace velmora::test {

namespace {

constexpr int kPort = 5432;  // only names the socket file, which lives in our own folder

// Debian keeps the server programs out of PATH, one folder per major version.
QString ServerBin() {
  QString best;
  QVersionNumber best_version;
  for (const QString& v : QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
    const QVersionNumber version = QVersionNumber::fromString(v);
    if (QFileInfo::exists(bin + QStringLiteral("/initdb")) && version > best_version) {
      best = bin;
      best_version = version;
    }
  }
  if (best.isEmpty()) {
    const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
    if (!initdb.isEmpty()) best = QFileInfo(initdb).absolutePath();
  }
  return best;
}

std::atomic<int> g_connections{0};

}  // namespace

PgServer::~PgServer() {
  Stop();
  // The cluster's files belong to postgres; as root the folder goes all the same.
  if (dir_) dir_->remove();
}

bool PgServer::Run(const QString& tool, const QStringList& args, int timeout_ms) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  const QString program = bin_ + QLatin1Char('/') + tool;
  if (::geteuid() == 0) {
    p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} + args);
  } else {
    p.start(program, args);
  }
  if (!p.waitForFinished(timeout_ms) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    if (p.state() != QProcess::NotRunning) p.kill();
    p.waitForFinished(2000);
    reason_ = QStringLiteral("%1 failed (%2): %3").arg(tool, p.errorString(), QString::fromLocal8Bit(p.readAll()).trimmed());
    return false;
  }
  return true;
}

bool PgServer::Start() {
  bin_ = ServerBin();
  if (bin_.isEmpty()) {
    reason_ = QStringLiteral("no PostgreSQL server programs (Debian: apt-get install postgresql)");
    return false;
  }
  const passwd* pg = ::getpwnam("postgres");
  if (::geteuid() == 0 && !pg) {
    reason_ = QStringLiteral("running as root and there is no postgres user to run the server as");
    return false;
  }
  dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/velmora-pg-XXXXXX"));
  if (!dir_->isValid()) {
    reason_ = QStringLiteral("no temporary folder: ") + dir_->errorString();
    return false;
  }
  if (::geteuid() == 0 && ::chown(QFile::encodeName(dir_->path()).constData(), pg->pw_uid, pg->pw_gid) != 0) {
    reason_ = QStringLiteral("cannot give %1 to postgres").arg(dir_->path());
    return false;
  }
  const QString data = dir_->path() + QStringLiteral("/data");
  if (!Run(QStringLiteral("initdb"),
           {QStringLiteral("-D"), data, QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"),
            QStringLiteral("postgres"), QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-locale"),
            QStringLiteral("--no-sync")},
           120000)) {
    return false;
  }
  return Restart();
}

bool PgServer::Restart() {
  const QString data = dir_->path() + QStringLiteral("/data");
  // No TCP at all: the socket in our folder is the only way in.
  const QString options = QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -p %2").arg(dir_->path()).arg(kPort);
  running_ = Run(QStringLiteral("pg_ctl"),
                 {QStringLiteral("-D"), data, QStringLiteral("-l"), dir_->path() + QStringLiteral("/server.log"),
                  QStringLiteral("-o"), options, QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                  QStringLiteral("start")},
                 90000);
  return running_;
}

bool PgServer::Stop() {
  if (!running_) return true;
  running_ = !Run(QStringLiteral("pg_ctl"),
                  {QStringLiteral("-D"), dir_->path() + QStringLiteral("/data"), QStringLiteral("-m"),
                   QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
                  60000);
  return !running_;
}

QString PgServer::SocketFolder() const { return dir_ ? dir_->path() : QString(); }

QString PgServer::CreateDatabase(const QString& name) {
  const QString connection = QStringLiteral("pg-server-admin-%1").arg(++g_connections);
  bool ok = false;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    db.setHostName(SocketFolder());
    db.setPort(kPort);
    db.setUserName(QStringLiteral("postgres"));
    db.setDatabaseName(QStringLiteral("postgres"));
    if (!db.open()) {
      reason_ = QStringLiteral("cannot reach the test server: ") + db.lastError().text();
    } else {
      QSqlQuery q(db);
      ok = q.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
      if (!ok) reason_ = QStringLiteral("CREATE DATABASE failed: ") + q.lastError().text();
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(connection);
  if (!ok) return {};
  // Concatenated: arg() would take the encoded slashes, %2F, for its own markers.
  return QStringLiteral("postgresql://postgres@") + QString::fromUtf8(QUrl::toPercentEncoding(SocketFolder())) +
         QLatin1Char(':') + QString::number(kPort) + QLatin1Char('/') + name;
}

}  // namespace velmora::test
