#pragma once
// The device register: every contact with a device that taught us something, kept in a
// SQLite file or a PostgreSQL database through Qt SQL, one schema on both.
//
// Several writers at once are expected (the window and velmora-cli runs on one station,
// several stations on one PostgreSQL database): SQLite runs in WAL mode and waits up to
// kBusyTimeoutMs for a lock; every write is one short transaction.
//
// A register whose schema is newer than this program knows is opened read-only, as is a
// SQLite file without write permission: rows can be read, Add and Clear refuse, and
// ReadOnlyReason() says why.
//
// One object is one connection and belongs to the thread that opened it.

#include <QString>

#include <memory>
#include <optional>
#include <vector>

#include "registry/register_row.h"
#include "registry/register_url.h"

namespace velmora {

class DeviceRegister {
 public:
  // The schema this program writes; a register at a higher version is read-only here.
  static constexpr int kSchemaVersion = 1;
  static constexpr int kBusyTimeoutMs = 10000;

  // Opens the register `url` names (see register_url.h), creating the SQLite file and its
  // folder or the tables on first use and bringing an older schema up to date. Null, with
  // `error` set, when it cannot be opened.
  static std::unique_ptr<DeviceRegister> Open(const QString& url, QString* error);
  ~DeviceRegister();
  DeviceRegister(const DeviceRegister&) = delete;
  DeviceRegister& operator=(const DeviceRegister&) = delete;

  // Writes the rows in one transaction: all of them or none. A row without a time gets
  // the present, without a station this computer's host name.
  bool Add(const std::vector<RegisterRow>& rows, QString* error);
  bool Add(const RegisterRow& row, QString* error) { return Add(std::vector<RegisterRow>{row}, error); }
  // Newest first, at most `limit` rows (all with a negative limit). Null on a failed read.
  std::optional<std::vector<RegisterRow>> Rows(const RegisterFilter& filter, int limit, QString* error) const;
  std::optional<qint64> Count(QString* error) const;
  // Removes every row.
  bool Clear(QString* error);

  bool ReadOnly() const { return !read_only_reason_.isEmpty(); }
  QString ReadOnlyReason() const { return read_only_reason_; }
  // The schema version the register holds.
  int SchemaVersion() const { return schema_version_; }
  const RegisterUrl& Url() const { return url_; }

 private:
  explicit DeviceRegister(RegisterUrl url);
  bool Connect(QString* error);
  bool Migrate(QString* error);
  bool Writable(QString* error) const;
  // The failing statement's text and the engine's words, for messages.
  QString Failure(const QString& what, const QString& detail) const;

  RegisterUrl url_;
  QString connection_;
  QString read_only_reason_;
  int schema_version_ = 0;
};

}  // namespace velmora
