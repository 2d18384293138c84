#pragma once
// Saving a file without ever leaving it half written.

#include <QByteArray>
#include <QString>

namespace velmora {

enum class FileAccess { Shared, OwnerOnly };

// Writes `bytes` to a temporary file beside `path`, then puts it in the file's place, so a
// failed or cut-short write leaves the old file as it was. A link is followed to the file
// it names; a read-only file is not replaced. An owner-only file is owner-only from its
// first byte. A shared file keeps the mode of the file it replaces, so one its owner made
// private stays private; a new one is readable by all. False with `error` set on failure.
bool ReplaceFileContents(const QString& path, const QByteArray& bytes, FileAccess access, QString* error);

}  // namespace velmora
