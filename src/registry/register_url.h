#pragma once
// Where the device register lives: a SQLite file, or a PostgreSQL database several
// stations share.
//   sqlite:PATH
//   postgresql://USER@HOST[:PORT]/DB     HOST may be a socket folder, percent-encoded
//                                        (%2Fvar%2Frun%2Fpostgresql), or given as ?host=
// No password in the URL: it would show in the process list and in every message that
// names the register. libpq takes it from PGPASSWORD or ~/.pgpass.

#include <QString>

#include <optional>

namespace velmora {

struct RegisterUrl {
  enum class Engine { Sqlite, Postgres };
  Engine engine = Engine::Sqlite;
  QString path;      // SQLite: the file, absolute
  QString user;      // PostgreSQL: empty for libpq's default
  QString host;      // PostgreSQL: a name, an address or a socket folder; empty for the default socket
  int port = -1;     // PostgreSQL: -1 for the default
  QString database;  // PostgreSQL

  // Null, with `error` saying why, for a URL of neither form.
  static std::optional<RegisterUrl> Parse(const QString& url, QString* error);
  // The URL again, in the form Parse reads.
  QString Text() const;
};

// The window's data folder (organization and application "velmora"), spelled out so
// velmora-cli, another application, finds the same file.
QString DefaultRegisterPath();
QString DefaultRegisterUrl();
// VELMORA_REGISTER when it is set, else the default.
QString RegisterUrlFromEnvironment();

}  // namespace velmora
