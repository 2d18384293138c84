#pragma once
// Reading profiles: strict, since a profile is untrusted input.

#include <QByteArray>
#include <QString>

#include "profile/profile.h"

namespace velmora {

// Strict: unknown keys, missing keys, types, ranges, list captions, GBK lengths and
// address syntax are all errors; nothing falls back to a default.
ProfileResult ParseProfile(const QByteArray& json);

// Also an error for a file that cannot be read or is not JSON.
ProfileResult ReadProfileFile(const QString& path);

}  // namespace velmora
