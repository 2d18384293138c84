// Reading and writing profile files.
#include "profile/profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace velmora {
namespace {

// A profile is a few kilobytes; a larger file is not one, and is not read into memory.
constexpr qint64 kMaxProfileBytes = 1 << 20;

bool Fail(QString* error, const QString& message) {
  if (error) *error = message;
  return false;
}

}  // namespace

ProfileResult ReadProfileFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return ProfileResult{std::nullopt, QStringLiteral("%1: cannot be read (%2)").arg(path, f.errorString())};
  if (f.size() > kMaxProfileBytes)
    return ProfileResult{std::nullopt, QStringLiteral("%1: is larger than a profile can be (%2 bytes at most)")
                                           .arg(path)
                                           .arg(kMaxProfileBytes)};
  const QByteArray json = f.read(kMaxProfileBytes + 1);
  if (json.size() > kMaxProfileBytes)
    return ProfileResult{std::nullopt, QStringLiteral("%1: is larger than a profile can be (%2 bytes at most)")
                                           .arg(path)
                                           .arg(kMaxProfileBytes)};
  return ParseProfile(json);
}

bool WriteProfileFile(const QString& path, const Profile& p, QString* error) {
  const QByteArray json = ProfileJson(p);
  // A file the reader would refuse is not written: the form holds something no profile can.
  if (const ProfileResult back = ParseProfile(json); !back.profile) return Fail(error, back.error);

  QFileInfo target(path);
  // Replace the file a link points to, not the link.
  if (target.isSymLink() && target.exists()) target = QFileInfo(target.canonicalFilePath());
  if (target.isDir()) return Fail(error, QStringLiteral("%1: is a folder").arg(path));
  constexpr auto kWriteBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
  if (target.exists() && !(target.permissions() & kWriteBits))
    return Fail(error, QStringLiteral("%1: the file is read-only").arg(path));

  // Created owner-only from the start, so the credentials are never readable by others,
  // not even for a moment; a profile without them is opened up once written.
  QTemporaryFile temp(target.absoluteDir().filePath(QLatin1Char('.') + target.fileName() +
                                                    QLatin1String(".XXXXXX.tmp")));
  temp.setAutoRemove(true);
  if (!temp.open()) return Fail(error, QStringLiteral("%1: cannot be written (%2)").arg(path, temp.errorString()));
  const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  const QFileDevice::Permissions shared = owner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
  bool ok = temp.setPermissions(p.mqtt ? owner : shared);
  ok = ok && temp.write(json) == json.size() && temp.flush();
#ifndef Q_OS_WIN
  ok = ok && ::fsync(temp.handle()) == 0;
#endif
  if (!ok) return Fail(error, QStringLiteral("%1: cannot be written (%2)").arg(path, temp.errorString()));
  temp.close();

  std::error_code ec;
  std::filesystem::rename(temp.fileName().toStdU16String(), target.absoluteFilePath().toStdU16String(), ec);
  if (ec) return Fail(error, QStringLiteral("%1: cannot be written (%2)").arg(path, QString::fromStdString(ec.message())));
  temp.setAutoRemove(false);  // it has become the profile
  return true;
}

}  // namespace velmora
