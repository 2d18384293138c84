#pragma once
// A PostgreSQL server of the test's own: a cluster made by initdb in a temporary folder
// owned by the postgres user, started by pg_ctl on a Unix socket in that folder (no TCP),
// stopped and removed with the object. As root, initdb and pg_ctl run as postgres
// (runuser), since PostgreSQL refuses to run as root.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace velmora::test {

class PgServer {
 public:
  PgServer() = default;
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Makes the cluster and starts the server. False, with Reason() saying why, where no
  // server can be had here (PostgreSQL not installed, no postgres user, ...).
  bool Start();
  QString Reason() const { return reason_; }
  // Stops the server at once (the cluster stays, for Restart).
  bool Stop();
  bool Restart();

  // Creates database `name` and returns the register URL that reaches it; empty, with
  // Reason(), on failure.
  QString CreateDatabase(const QString& name);
  QString SocketFolder() const;

 private:
  bool Run(const QString& tool, const QStringList& args, int timeout_ms);

  std::unique_ptr<QTemporaryDir> dir_;
  QString bin_;
  QString reason_;
  bool running_ = false;
};

}  // namespace velmora::test
