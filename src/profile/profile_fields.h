#pragma once
// The keys of a profile's `config` and `mqtt` objects, the form members they fill and how
// a form value is written in the file: one table for the reader, the writer and the
// comparison, so the three never disagree about a field.

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "config/config_record.h"
#include "mqtt/mqtt_record.h"
#include "resources/layout.h"

namespace velmora::profile_fields {

// What a key holds, and so how it is checked and written.
enum class Kind {
  Address,    // dotted text, each part 0..255
  Flag,       // true or false
  Number,     // a digits-only box: a whole number from 0 to `max`
  Frequency,  // the LoRa frequency box: digits and a decimal point
  List,       // a drop-down list: one of its items, by name
  Text,       // a text box: UTF-8 in the file, GBK bytes on the form, the layout's byte limit
  Packet,     // heartbeat or registration packet: text, or hex pairs when HEX is on
  Mac,        // empty, or six hex bytes
};

// An item of a list as a profile names it. The writer uses the identifier, which reads the
// same whatever language the window speaks; the reader also takes the caption the list
// shows, in Chinese or in English, as profiles written before the identifiers held.
struct ListName {
  const char* id;                 // plain lowercase ASCII
  const char* english = nullptr;  // null: the caption reads the same in both languages
};

// One key of the `config` object and the form member it fills. Lists and texts name the
// control on the serial page, whose layout holds their captions and limits; the network
// page shows the same items.
struct ConfigField {
  const char* key;
  Kind kind;
  Ipv4Octets ConfigForm::*address = nullptr;
  bool ConfigForm::*flag = nullptr;
  std::string ConfigForm::*text = nullptr;
  int ConfigForm::*position = nullptr;
  std::optional<std::string> ConfigForm::*packet = nullptr;
  int control = res::kNoId;
  double max = 0;             // Number
  std::size_t packet_bytes = 0;
  std::vector<ListName> names = {};  // List: one per item of the control's list
};

// In the form's order, except that HEX comes before the two packets it governs.
const std::vector<ConfigField>& ConfigFields();

// The `mqtt` object's keys, each a control of the MQTT page.
struct MqttField {
  const char* key;
  int control;
  std::string MqttCredentials::*text = nullptr;  // null: the port map list
  std::vector<ListName> names = {};               // the port map's items
};

const std::vector<MqttField>& MqttFields();

// The controls of the serial page and of the MQTT page that a key names.
const res::Control& FormControl(int id);
const res::Control& MqttControl(int id);

// Keys and messages are written as UTF-8 literals.
QString U(const char* utf8);

// A scalar as JSON text, as Qt writes it.
QByteArray JsonText(const QJsonValue& v);

QString Quoted(const char* utf8);

// The position in `list` (a control with its items) that `value` names, by identifier or
// by either caption; none when it names no item.
std::optional<int> ListPosition(const QString& value, const res::Control& list, const std::vector<ListName>& names);

// Six hex bytes in any form the reader takes, written "02:1A:2B:3C:4D:5E"; empty stays
// empty; none when `text` is neither.
std::optional<QString> CanonicalMac(const QString& text);

// A form value as the file holds it.
QJsonValue FieldValue(const ConfigField& f, const ConfigForm& form);
QJsonValue MqttValue(const MqttField& f, const MqttCredentials& c);

}  // namespace velmora::profile_fields
