#pragma once
// Writing profiles.

#include <QByteArray>
#include <QString>

#include "profile/profile.h"

namespace velmora {

// Keys in the form's order, indented, UTF-8. A form value the reader would refuse (a list
// with no selection, a number box holding something else) is written as it is, so the
// file says what was wrong; WriteProfileFile refuses such a profile.
QByteArray ProfileJson(const Profile& p);

// Replaces the file safely (a temporary file beside it, then a rename). Readable by the
// owner only when it holds MQTT credentials. Refuses a profile that would not read back.
bool WriteProfileFile(const QString& path, const Profile& p, QString* error);

}  // namespace velmora
