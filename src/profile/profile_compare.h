#pragma once
// What a device holds against the profile written to it, for `--verify`.

#include <QStringList>

#include "config/config_record.h"
#include "mqtt/mqtt_record.h"

namespace velmora {

// Fields the device holds differently from what was written, one
// "config.<field>: wrote X, read Y" line each; empty when they agree. `read` is the
// decoded reply, decoded with wrote.hex. A field is compared as the device keeps it: an
// address the record does not carry (DHCP on, a domain given) or a frequency the device
// rounds to its step is not a difference. The HEX flag is the page's, not the device's.
QStringList ConfigDifferences(const ConfigForm& wrote, const ConfigForm& read);
QStringList MqttDifferences(const MqttCredentials& wrote, const MqttCredentials& read);

}  // namespace velmora
