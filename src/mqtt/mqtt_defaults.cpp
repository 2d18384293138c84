#include "mqtt/mqtt_defaults.h"

namespace velmora {

MqttCredentials DefaultMqttCredentials() {
  return MqttCredentials{0, "kQ7tRw2LmZs", "nb_sample", "5c0e7b91f2d84a36b07c9e1d4f6a2b83"};
}

}  // namespace velmora
