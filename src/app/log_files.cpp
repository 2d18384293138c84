#include "app/log_files.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velmora {

namespace {
bool Fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}
}  // namespace

SessionLog::SessionLog()
    : path_(QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
                .filePath(QStringLiteral("velmora-%1.log")
                              .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))))) {}

bool SessionLog::Start(QString* error) {
  if (file_.isOpen()) return true;
  if (!QDir().mkpath(QFileInfo(path_).absolutePath()))
    return Fail(error, QStringLiteral("%1: the folder cannot be made").arg(QFileInfo(path_).absolutePath()));
  file_.setFileName(path_);
  const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  // Created owner-only from its first byte; one that is already there is made so too.
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append, owner) || !file_.setPermissions(owner)) {
    file_.close();
    return Fail(error, QStringLiteral("%1: %2").arg(path_, file_.errorString()));
  }
  return true;
}

void SessionLog::Write(const QString& entry) {
  if (!file_.isOpen()) return;
  file_.write(entry.toUtf8());
  file_.flush();
}

}  // namespace velmora
