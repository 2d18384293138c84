#include "core/replace_file.h"

#include <QDir>
#include <QFileInfo>
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

// Not QSaveFile: as of Qt 6.4 its commit() renames even when a write came up short or the
// sync to disk failed, it asks the system whether the user may write, which lets the
// super-user replace a read-only file, and where the file system has no unnamed temporary
// files it creates its own readable by others until the permissions can be set.
bool ReplaceFileContents(const QString& path, const QByteArray& bytes, FileAccess access, QString* error) {
  QFileInfo target(path);
  // Replace the file a link points to, not the link.
  if (target.isSymLink() && target.exists()) target = QFileInfo(target.canonicalFilePath());
  if (target.isDir()) return Fail(error, QStringLiteral("%1: is a folder").arg(path));
  constexpr auto kWriteBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
  if (target.exists() && !(target.permissions() & kWriteBits))
    return Fail(error, QStringLiteral("%1: the file is read-only").arg(path));

  namespace fs = std::filesystem;
  constexpr fs::perms owner = fs::perms::owner_read | fs::perms::owner_write;
  fs::perms mode = owner;
  if (access == FileAccess::Shared) {
    mode = owner | fs::perms::group_read | fs::perms::others_read;
    std::error_code ec;
    const fs::file_status old = fs::status(target.absoluteFilePath().toStdU16String(), ec);
    if (!ec && fs::exists(old)) mode = old.permissions() & fs::perms::all;
  }

  // A temporary file is created owner-only, so nothing private is readable by others even
  // for a moment; a shared file is opened up before it takes the old one's place.
  QTemporaryFile temp(target.absoluteDir().filePath(QLatin1Char('.') + target.fileName() +
                                                    QLatin1String(".XXXXXX.tmp")));
  temp.setAutoRemove(true);
  if (!temp.open()) return Fail(error, QStringLiteral("%1: cannot be written (%2)").arg(path, temp.errorString()));
  std::error_code mode_ec;
  fs::permissions(temp.fileName().toStdU16String(), mode, fs::perm_options::replace, mode_ec);
  bool ok = !mode_ec && temp.write(bytes) == bytes.size() && temp.flush();
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

}  // namespace velmora
