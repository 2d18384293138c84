#pragma once
// The two records the device keeps, and the state file that carries them across a
// restart of the simulator.

#include <QString>

#include <span>

#include "config/config_record.h"
#include "mqtt/mqtt_record.h"

namespace velmora::sim {

class RecordStore {
 public:
  // The tool's own defaults: what a new device would hold.
  RecordStore();

  const ConfigRecord& Config() const { return config_; }
  const MqttRecordBytes& Mqtt() const { return mqtt_; }
  // False (and nothing stored) unless the payload has exactly the record's size.
  bool SetConfig(std::span<const uint8_t> payload);
  bool SetMqtt(std::span<const uint8_t> payload);

  // A text file: a comment line, then "config <442 hex digits>" and "mqtt <258 hex
  // digits>". Loading a file that does not exist keeps the defaults; a file that
  // exists but cannot be read fails rather than being overwritten later.
  bool Load(const QString& path, QString* error);
  // Written whole or not at all.
  bool Save(const QString& path, QString* error) const;

 private:
  ConfigRecord config_{};
  MqttRecordBytes mqtt_{};
};

}  // namespace velmora::sim
