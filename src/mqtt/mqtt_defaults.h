#pragma once
// The credentials the MQTT page starts with; the simulator's device starts from them too.

#include "mqtt/mqtt_record.h"

namespace velmora {

MqttCredentials DefaultMqttCredentials();

}  // namespace velmora
