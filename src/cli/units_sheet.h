#pragma once
// --units FILE.csv: one row per device, each with its own link and its own values for
// the profile's keys, so one profile gives every unit its own identity. A header row names
// the columns: `link`, and profile keys as dotted paths (config.local_ip, config.mac,
// mqtt.device_name, ...). Every row passes the same strict reader as a profile file.

#include <QString>
#include <QStringList>

#include <vector>

#include "cli/command.h"
#include "profile/profile.h"

namespace velmora::cli {

// `base` is the profile the command writes; each row's cells replace its values. A cell
// left empty keeps the profile's value; config.mac "auto" makes a locally administered
// MAC of its own for the unit. Empty with `error` naming the file, row and column on
// anything wrong: then nothing may be sent to any device.
std::vector<Unit> ReadUnitsSheet(const QString& path, const Profile& base, QString* error);

// "serial:PATH[@BAUD[,PARITY]]" or "udp:ADDRESS[:PORT]" (a unicast address).
std::optional<DeviceLink> ParseUnitLink(const QString& text, QString* error);

// Fields that identify one unit and are set to the same value on more than one unit,
// except those in `allowed` (config.local_ip, config.mac, mqtt.device_name,
// mqtt.device_secret): one message per field, naming it and the value. Empty when every
// unit keeps its own identity.
QStringList SharedIdentity(const std::vector<const Profile*>& profiles, const QStringList& allowed);

// The identity fields --allow-same takes.
QStringList IdentityFields();

}  // namespace velmora::cli
