// Reading and writing profile files.
#include "profile/profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/replace_file.h"

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

  // Credentials are never readable by others, not even for a moment.
  return ReplaceFileContents(path, json, p.mqtt ? FileAccess::OwnerOnly : FileAccess::Shared, error);
}

}  // namespace velmora
