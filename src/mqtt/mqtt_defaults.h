#pragma once
// The MQTT page's start values, shared with the device simulator.

#include "mqtt/mqtt_record.h"

namespace velmora {

MqttCredentials DefaultMqttCredentials();

}  // namespace velmora
