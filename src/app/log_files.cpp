#include "app/log_files.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace velmora {

namespace {
bool Fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}
}  // namespace

bool ReplaceFileContents(const QString& path, const QByteArray& bytes, QString* error) {
  QFileInfo target(path);
  // Replace the file a link points to, not the link.
  if (target.isSymLink() && target.exists()) target = QFileInfo(target.canonicalFilePath());
  if (target.isDir()) return Fail(error, QStringLiteral("%1: is a folder").arg(path));
  QTemporaryFile temp(target.absoluteDir().filePath(QLatin1Char('.') + target.fileName() +
                                                    QLatin1String(".XXXXXX.tmp")));
  temp.setAutoRemove(true);
  if (!temp.open()) return Fail(error, QStringLiteral("%1: cannot be written (%2)").arg(path, temp.errorString()));
  // A temporary file is owner-only; the saved log reads like any other file.
  bool ok = temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                QFileDevice::ReadOther);
  ok = ok && temp.write(bytes) == bytes.size() && temp.flush();
#ifndef Q_OS_WIN
  ok = ok && ::fsync(temp.handle()) == 0;
#endif
  if (!ok) return Fail(error, QStringLiteral("%1: cannot be written (%2)").arg(path, temp.errorString()));
  temp.close();
  std::error_code ec;
  std::filesystem::rename(temp.fileName().toStdU16String(), target.absoluteFilePath().toStdU16String(), ec);
  if (ec) return Fail(error, QStringLiteral("%1: cannot be written (%2)").arg(path, QString::fromStdString(ec.message())));
  temp.setAutoRemove(false);  // it has become the file
  return true;
}

SessionLog::SessionLog()
    : path_(QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
                .filePath(QStringLiteral("velmora-%1.log")
                              .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))))) {}

bool SessionLog::Start(QString* error) {
  if (file_.isOpen()) return true;
  if (!QDir().mkpath(QFileInfo(path_).absolutePath()))
    return Fail(error, QStringLiteral("%1: the folder cannot be made").arg(QFileInfo(path_).absolutePath()));
  file_.setFileName(path_);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append))
    return Fail(error, QStringLiteral("%1: %2").arg(path_, file_.errorString()));
  return true;
}

void SessionLog::Write(const QString& entry) {
  if (!file_.isOpen()) return;
  file_.write(entry.toUtf8());
  file_.flush();
}

}  // namespace velmora
