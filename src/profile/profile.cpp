#include "profile/profile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "config/config_defaults.h"
#include "mqtt/mqtt_defaults.h"
#include "protocol/gbk.h"
#include "resources/config_layouts.h"
#include "resources/mqtt_layout.h"

namespace velmora {
namespace {

// What a key holds, and so how it is checked and written.
enum class Kind {
  Address,    // dotted text, each part 0..255
  Flag,       // true or false
  Number,     // a digits-only box: a whole number from 0 to `max`
  Frequency,  // the LoRa frequency box: digits and a decimal point
  List,       // a drop-down list: one of its captions
  Text,       // a text box: UTF-8 in the file, GBK bytes on the form, the layout's byte limit
  Packet,     // heartbeat or registration packet: text, or hex pairs when HEX is on
  Mac,        // empty, or six hex bytes
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
};

ConfigField AddressField(const char* key, Ipv4Octets ConfigForm::*m) {
  ConfigField f{key, Kind::Address};
  f.address = m;
  return f;
}
ConfigField FlagField(const char* key, bool ConfigForm::*m) {
  ConfigField f{key, Kind::Flag};
  f.flag = m;
  return f;
}
ConfigField NumberField(const char* key, std::string ConfigForm::*m, double max) {
  ConfigField f{key, Kind::Number};
  f.text = m;
  f.max = max;
  return f;
}
ConfigField TextField(const char* key, Kind kind, std::string ConfigForm::*m, int control = res::kNoId) {
  ConfigField f{key, kind};
  f.text = m;
  f.control = control;
  return f;
}
ConfigField ListField(const char* key, int ConfigForm::*m, int control) {
  ConfigField f{key, Kind::List};
  f.position = m;
  f.control = control;
  return f;
}
ConfigField PacketField(const char* key, std::optional<std::string> ConfigForm::*m, std::size_t bytes) {
  ConfigField f{key, Kind::Packet};
  f.packet = m;
  f.packet_bytes = bytes;
  return f;
}

// Ports travel as two bytes, the LoRa network address as one.
constexpr double kPortMax = std::numeric_limits<uint16_t>::max();
constexpr double kByteMax = std::numeric_limits<uint8_t>::max();

// In the form's order, except that HEX comes before the two packets it governs.
const std::vector<ConfigField>& ConfigFields() {
  using F = ConfigForm;
  static const std::vector<ConfigField> fields{
      AddressField("local_ip", &F::local_ip),
      AddressField("subnet_mask", &F::subnet_mask),
      AddressField("gateway", &F::gateway),
      FlagField("dhcp", &F::dhcp),
      AddressField("server_ip", &F::server_ip),
      NumberField("eth_port", &F::eth_port, kPortMax),
      ListField("network_mode", &F::net_mode, res::kIdcNetMode),
      TextField("domain", Kind::Text, &F::domain, res::kIdcDomain),
      TextField("ip0_domain", Kind::Text, &F::ip0_domain, res::kIdcIp0Domain),
      NumberField("ip0_domain_port", &F::ip0_domain_port, kPortMax),
      AddressField("ip0_address", &F::ip0_addr),
      NumberField("ip0_address_port", &F::ip0_addr_port, kPortMax),
      AddressField("ip1_address", &F::ip1_addr),
      NumberField("ip1_port", &F::ip1_port, kPortMax),
      TextField("lora_frequency", Kind::Frequency, &F::lora_freq),
      ListField("sleep_time", &F::sleep_time, res::kIdcSleepTime),
      ListField("breathe_time", &F::breathe_time, res::kIdcBreatheTime),
      NumberField("lora_net_address", &F::lora_net_addr, kByteMax),
      ListField("tx_power", &F::tx_power, res::kSerialFormLists.tx_power),
      ListField("uart_baud", &F::uart_baud, res::kIdcUartBaud),
      ListField("uart_parity", &F::uart_parity, res::kIdcUartParity),
      ListField("uart_mode", &F::uart_mode, res::kIdcUartMode),
      ListField("uart_map", &F::uart_map, res::kSerialFormLists.uart_map),
      FlagField("hex", &F::hex),
      PacketField("heartbeat", &F::heartbeat, kHeartbeatBytes),
      PacketField("register_data", &F::register_data, kRegisterBytes),
      TextField("mac", Kind::Mac, &F::mac),
  };
  return fields;
}

// The `mqtt` object's keys, each a control of the MQTT page.
struct MqttField {
  const char* key;
  int control;
  std::string MqttCredentials::*text = nullptr;  // null: the port map list
};

const std::vector<MqttField>& MqttFields() {
  static const std::vector<MqttField> fields{
      {"port_map", res::kIdcMqttPortMap},
      {"product_key", res::kIdcProductKey, &MqttCredentials::product_key},
      {"device_name", res::kIdcDeviceName, &MqttCredentials::device_name},
      {"device_secret", res::kIdcDeviceSecret, &MqttCredentials::device_secret},
  };
  return fields;
}

const res::Control& LayoutControl(const res::Dialog& dialog, int id) {
  for (const res::Control& c : dialog.controls) {
    if (c.id == id) return c;
  }
  Q_ASSERT_X(false, "LayoutControl", "a profile key names a control of its page");
  static const res::Control none;
  return none;
}

const res::Control& FormControl(int id) { return LayoutControl(res::SerialConfigDialog(), id); }
const res::Control& MqttControl(int id) { return LayoutControl(res::MqttDialog(), id); }

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A scalar as JSON text, as Qt writes it.
QByteArray JsonText(const QJsonValue& v) {
  const QByteArray a = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
  return a.mid(1, a.size() - 2);
}

QString Quoted(const char* utf8) { return QString::fromUtf8(JsonText(QJsonValue(U(utf8)))); }

// ---- Values to the file ----

QString DottedText(const Ipv4Octets& o) {
  return QStringLiteral("%1.%2.%3.%4").arg(o[0]).arg(o[1]).arg(o[2]).arg(o[3]);
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The number a digits-only box holds; anything else is written as the text it is, which
// the reader then refuses by name.
QJsonValue NumberValue(const std::string& text) {
  double v = 0;
  if (AllDigits(text) && std::from_chars(text.data(), text.data() + text.size(), v).ec == std::errc()) return v;
  return FromGbk(text);
}

QJsonValue FrequencyValue(const std::string& text) {
  const bool digits = std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  const bool form = std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; }) &&
                    std::count(text.begin(), text.end(), '.') <= 1;
  double v = 0;
  if (digits && form) {
    // from_chars wants a digit before the point.
    const std::string t = text.front() == '.' ? "0" + text : text;
    if (std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::fixed).ec == std::errc()) return v;
  }
  return FromGbk(text);
}

QJsonValue ListValue(int position, const res::Control& list) {
  if (position < 0 || position >= static_cast<int>(list.items.size())) return QJsonValue::Null;
  return U(list.items[static_cast<std::size_t>(position)]);
}

QJsonValue FieldValue(const ConfigField& f, const ConfigForm& form) {
  switch (f.kind) {
    case Kind::Address:
      return DottedText(form.*f.address);
    case Kind::Flag:
      return form.*f.flag;
    case Kind::Number:
      return NumberValue(form.*f.text);
    case Kind::Frequency:
      return FrequencyValue(form.*f.text);
    case Kind::List:
      return ListValue(form.*f.position, FormControl(f.control));
    case Kind::Text:
    case Kind::Mac:
      return FromGbk(form.*f.text);
    case Kind::Packet:
      return FromGbk((form.*f.packet).value_or(std::string()));
  }
  return {};
}

QJsonValue MqttValue(const MqttField& f, const MqttCredentials& c) {
  if (!f.text) return ListValue(c.port_map, MqttControl(f.control));
  return FromGbk(c.*f.text);
}

// ---- Values from the file ----

using Check = std::optional<QString>;  // the message without the field's name; empty: fine

bool HasControlCharacter(const QString& s) {
  return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

// A text as the form's GBK bytes, within `limit` bytes (0: no limit).
Check ReadText(const QJsonValue& v, std::size_t limit, std::string& out) {
  if (!v.isString()) return U("must be a text");
  const QString s = v.toString();
  if (HasControlCharacter(s)) return U("must not hold control characters");
  const std::string gbk = ToGbk(s);
  if (FromGbk(gbk) != s) return U("holds characters that GBK cannot write");
  if (limit > 0 && gbk.size() > limit)
    return QStringLiteral("must take at most %1 GBK bytes; this text takes %2").arg(limit).arg(gbk.size());
  out = gbk;
  return std::nullopt;
}

Check ReadAddress(const QJsonValue& v, Ipv4Octets& out) {
  const QString kMessage = U("must be a dotted address \"a.b.c.d\", each part from 0 to 255");
  if (!v.isString()) return kMessage;
  const QStringList parts = v.toString().split(u'.');
  if (parts.size() != 4) return kMessage;
  Ipv4Octets o{};
  for (std::size_t i = 0; i < 4; ++i) {
    const QString& p = parts[static_cast<qsizetype>(i)];
    if (p.isEmpty() || p.size() > 3 || !std::all_of(p.begin(), p.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
      return kMessage;
    const int n = p.toInt();
    if (n > 255) return kMessage;
    o[i] = static_cast<uint8_t>(n);
  }
  out = o;
  return std::nullopt;
}

Check ReadNumber(const QJsonValue& v, double max, std::string& out) {
  const double d = v.toDouble(-1);
  if (!v.isDouble() || !(d >= 0 && d <= max) || d != std::trunc(d))
    return QStringLiteral("must be a whole number from 0 to %1").arg(max);
  out = std::to_string(static_cast<uint32_t>(d));
  return std::nullopt;
}

// The frequency box's text for `mhz`: two decimals as the device shows it, more only
// where the value needs them.
std::string FrequencyText(double mhz) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, mhz, std::chars_format::fixed, 2);
  std::string two(buf, r.ptr);
  double back = 0;
  std::from_chars(two.data(), two.data() + two.size(), back);
  if (back == mhz) return two;
  r = std::to_chars(buf, buf + sizeof buf, mhz, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

Check ReadFrequency(const QJsonValue& v, std::string& out) {
  const double max = MaxLoraFrequency();
  const double d = v.toDouble(-1);
  if (!v.isDouble() || !(d >= 0 && d <= max))
    return QStringLiteral("must be a number of MHz from 0 to %1").arg(max, 0, 'f', 2);
  out = FrequencyText(d + 0.0);  // no "-0.00" from a -0 in the file
  return std::nullopt;
}

QString CaptionList(const res::Control& list) {
  QStringList names;
  for (const char* item : list.items) names << Quoted(item);
  return names.join(QLatin1String(", "));
}

Check ReadList(const QJsonValue& v, const res::Control& list, int& out) {
  if (v.isString()) {
    const QString s = v.toString();
    for (std::size_t i = 0; i < list.items.size(); ++i) {
      if (s == U(list.items[i])) {
        out = static_cast<int>(i);
        return std::nullopt;
      }
    }
  }
  return U("must be one of ") + CaptionList(list);
}

bool IsHexDigit(QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f'); }

// With HEX on the encoder drops the spaces and takes pairs of hex digits; anything it
// would stop at or cut off is refused here.
Check ReadHexPacket(const QJsonValue& v, std::size_t bytes, std::string& out) {
  const QString message = QStringLiteral("with hex on, must be pairs of hex digits (spaces allowed), at most %1 bytes")
                              .arg(bytes);
  if (!v.isString()) return message;
  const QString s = v.toString();
  std::size_t digits = 0;
  for (QChar c : s) {
    if (c == u' ') continue;
    if (!IsHexDigit(c)) return message;
    ++digits;
  }
  if (digits % 2 != 0 || digits > 2 * bytes) return message;
  out = s.toStdString();
  return std::nullopt;
}

Check ReadMac(const QJsonValue& v, std::string& out) {
  const QString message = U("must be empty or six hex bytes, such as \"AA:BB:CC:DD:EE:FF\" or \"AA BB CC DD EE FF\"");
  if (!v.isString()) return message;
  const QString s = v.toString();
  // Pairs with an optional ' ', ':' or '-' between them; the page writes a space after each.
  qsizetype i = 0;
  int pairs = 0;
  while (i < s.size()) {
    if (pairs > 0 && pairs < 6 && (s[i] == u' ' || s[i] == u':' || s[i] == u'-')) ++i;
    if (i + 1 >= s.size() || !IsHexDigit(s[i]) || !IsHexDigit(s[i + 1])) break;
    i += 2;
    ++pairs;
    if (pairs == 6) {
      if (i < s.size() && s[i] == u' ') ++i;
      break;
    }
  }
  if (!s.isEmpty() && (pairs != 6 || i != s.size())) return message;
  out = s.toStdString();
  return std::nullopt;
}

Check ReadField(const ConfigField& f, const QJsonValue& v, ConfigForm& form) {
  switch (f.kind) {
    case Kind::Address:
      return ReadAddress(v, form.*f.address);
    case Kind::Flag:
      if (!v.isBool()) return U("must be true or false");
      form.*f.flag = v.toBool();
      return std::nullopt;
    case Kind::Number:
      return ReadNumber(v, f.max, form.*f.text);
    case Kind::Frequency:
      return ReadFrequency(v, form.*f.text);
    case Kind::List:
      return ReadList(v, FormControl(f.control), form.*f.position);
    case Kind::Text:
      return ReadText(v, static_cast<std::size_t>(FormControl(f.control).text_limit), form.*f.text);
    case Kind::Packet: {
      std::string bytes;
      Check c = form.hex ? ReadHexPacket(v, f.packet_bytes, bytes) : ReadText(v, f.packet_bytes, bytes);
      if (!c) form.*f.packet = std::move(bytes);
      return c;
    }
    case Kind::Mac:
      return ReadMac(v, form.*f.text);
  }
  return U("cannot be read");
}

QString Named(const QString& path, const QString& message) { return path + QLatin1String(": ") + message; }

// The first key of `o` not in `known`, as its full name; empty when there is none.
QString UnknownKey(const QJsonObject& o, const QStringList& known, const QString& prefix) {
  for (auto it = o.begin(); it != o.end(); ++it) {
    if (!known.contains(it.key())) return prefix + it.key();
  }
  return {};
}

QString ReadConfig(const QJsonValue& v, ConfigForm& form) {
  if (!v.isObject()) return Named(U("config"), U("must be an object"));
  const QJsonObject o = v.toObject();
  QStringList known;
  for (const ConfigField& f : ConfigFields()) known << U(f.key);
  if (const QString k = UnknownKey(o, known, U("config.")); !k.isEmpty()) return Named(k, U("unknown key"));
  form = DefaultConfigForm();
  for (const ConfigField& f : ConfigFields()) {
    const QString name = U("config.") + U(f.key);
    const auto it = o.find(U(f.key));
    if (it == o.end()) return Named(name, U("missing"));
    if (const Check c = ReadField(f, *it, form)) return Named(name, *c);
  }
  return {};
}

QString ReadMqtt(const QJsonValue& v, MqttCredentials& c) {
  if (!v.isObject()) return Named(U("mqtt"), U("must be an object"));
  const QJsonObject o = v.toObject();
  QStringList known;
  for (const MqttField& f : MqttFields()) known << U(f.key);
  if (const QString k = UnknownKey(o, known, U("mqtt.")); !k.isEmpty()) return Named(k, U("unknown key"));
  for (const MqttField& f : MqttFields()) {
    const QString name = U("mqtt.") + U(f.key);
    const auto it = o.find(U(f.key));
    if (it == o.end()) return Named(name, U("missing"));
    const res::Control& control = MqttControl(f.control);
    const Check check = f.text ? ReadText(*it, static_cast<std::size_t>(control.text_limit), c.*f.text)
                               : ReadList(*it, control, c.port_map);
    if (check) return Named(name, *check);
  }
  return {};
}

// Line and column of a byte offset, for a parse error an editor can find.
QString Where(const QByteArray& json, int offset) {
  int line = 1, column = 1;
  for (int i = 0; i < offset && i < json.size(); ++i) {
    if (json[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

ProfileResult Fail(const QString& message) { return ProfileResult{std::nullopt, message}; }

// The key that appears twice in one object of `json` (valid JSON), with its path; empty
// when there is none. QJsonDocument keeps the last of two equal keys, and a profile must
// not say two things about one field.
QString RepeatedKey(const QByteArray& json) {
  struct Level {
    bool object;
    QString path;
    QStringList keys;
    bool expect_key;
  };
  std::vector<Level> levels;
  QString pending;  // the key whose value comes next
  for (qsizetype i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (c == '{' || c == '[') {
      const QString parent = levels.empty() ? QString() : levels.back().path;
      QString path = parent.isEmpty() ? pending : parent + u'.' + pending;
      levels.push_back(Level{c == '{', path, {}, c == '{'});
      pending.clear();
    } else if (c == '}' || c == ']') {
      if (!levels.empty()) levels.pop_back();
    } else if (c == ',') {
      if (!levels.empty() && levels.back().object) levels.back().expect_key = true;
    } else if (c == '"') {
      const qsizetype start = i;
      for (++i; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] == '\\') ++i;
      }
      if (levels.empty() || !levels.back().object || !levels.back().expect_key) continue;
      const QByteArray raw = json.mid(start, i - start + 1);
      const QString key = raw.contains('\\')
                              ? QJsonDocument::fromJson("[" + raw + "]").array().at(0).toString()
                              : QString::fromUtf8(raw.mid(1, raw.size() - 2));
      Level& top = levels.back();
      const QString path = top.path.isEmpty() ? key : top.path + u'.' + key;
      if (top.keys.contains(key)) return path;
      top.keys << key;
      top.expect_key = false;
      pending = key;
    }
  }
  return {};
}

// ---- Writing ----

void AppendMember(QByteArray& out, int indent, const char* key, const QByteArray& value, bool last) {
  out += QByteArray(indent, ' ');
  out += JsonText(QJsonValue(U(key)));
  out += ": ";
  out += value;
  out += last ? "\n" : ",\n";
}

template <typename Field, typename ValueOf>
QByteArray ObjectText(const std::vector<Field>& fields, ValueOf value_of) {
  QByteArray out = "{\n";
  for (std::size_t i = 0; i < fields.size(); ++i)
    AppendMember(out, 8, fields[i].key, JsonText(value_of(fields[i])), i + 1 == fields.size());
  out += "    }";
  return out;
}

}  // namespace

ProfileResult ParseProfile(const QByteArray& json) {
  QByteArray text = json;
  if (text.startsWith("\xEF\xBB\xBF")) text.remove(0, 3);  // editors on Windows like to add one
  QJsonParseError parse{};
  const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
  if (parse.error != QJsonParseError::NoError)
    return Fail(QStringLiteral("profile: not valid JSON (%1: %2)").arg(Where(text, parse.offset), parse.errorString()));
  if (!doc.isObject()) return Fail(U("profile: must be a JSON object"));
  if (const QString k = RepeatedKey(text); !k.isEmpty()) return Fail(Named(k, U("appears twice")));
  const QJsonObject o = doc.object();

  const QJsonValue format = o.value(U("format"));
  if (format.isUndefined()) return Fail(U("format: missing; a profile starts with \"format\": \"velmora-profile\""));
  if (format.toString() != U(kProfileFormat)) return Fail(U("format: must be ") + Quoted(kProfileFormat));
  const QJsonValue version = o.value(U("version"));
  if (version.isUndefined()) return Fail(U("version: missing"));
  if (!version.isDouble() || version.toDouble() != kProfileVersion) {
    if (version.isDouble() && version.toDouble() > kProfileVersion)
      return Fail(QStringLiteral("version: %1 is newer than this program reads (%2)")
                      .arg(version.toDouble())
                      .arg(kProfileVersion));
    return Fail(QStringLiteral("version: must be %1").arg(kProfileVersion));
  }
  const QStringList known{U("format"), U("version"), U("config"), U("mqtt"), U("firmware")};
  if (const QString k = UnknownKey(o, known, QString()); !k.isEmpty()) return Fail(Named(k, U("unknown key")));

  Profile p;
  if (const auto it = o.find(U("config")); it != o.end()) {
    ConfigForm form;
    if (const QString e = ReadConfig(*it, form); !e.isEmpty()) return Fail(e);
    p.config = std::move(form);
  }
  if (const auto it = o.find(U("mqtt")); it != o.end()) {
    MqttCredentials c;
    if (const QString e = ReadMqtt(*it, c); !e.isEmpty()) return Fail(e);
    p.mqtt = std::move(c);
  }
  if (const auto it = o.find(U("firmware")); it != o.end()) {
    if (!it->isString() || it->toString().isEmpty() || HasControlCharacter(it->toString()))
      return Fail(U("firmware: must be the firmware file's path, relative to the profile's folder"));
    p.firmware = it->toString();
  }
  if (!p.config && !p.mqtt && p.firmware.isEmpty())
    return Fail(U("profile: holds none of \"config\", \"mqtt\" and \"firmware\""));
  return ProfileResult{std::move(p), QString()};
}

QByteArray ProfileJson(const Profile& p) {
  std::vector<std::pair<const char*, QByteArray>> members{
      {"format", JsonText(QJsonValue(U(kProfileFormat)))},
      {"version", JsonText(QJsonValue(kProfileVersion))},
  };
  if (p.config) {
    members.emplace_back("config", ObjectText(ConfigFields(), [&](const ConfigField& f) {
                           return FieldValue(f, *p.config);
                         }));
  }
  if (p.mqtt) {
    members.emplace_back("mqtt", ObjectText(MqttFields(), [&](const MqttField& f) {
                           return MqttValue(f, *p.mqtt);
                         }));
  }
  if (!p.firmware.isEmpty()) members.emplace_back("firmware", JsonText(QJsonValue(p.firmware)));

  QByteArray out = "{\n";
  for (std::size_t i = 0; i < members.size(); ++i)
    AppendMember(out, 4, members[i].first, members[i].second, i + 1 == members.size());
  out += "}\n";
  return out;
}

Profile TemplateProfile() { return Profile{DefaultConfigForm(), DefaultMqttCredentials(), QString()}; }

QString FirmwarePath(const QString& profile_path, const Profile& p) {
  if (p.firmware.isEmpty()) return {};
  return QDir::cleanPath(QFileInfo(profile_path).absoluteDir().filePath(p.firmware));
}

QStringList ConfigDifferences(const ConfigForm& wrote, const ConfigForm& read) {
  // What the device shows after taking `wrote`: the same encoder, the same decoder.
  const ConfigForm expected = DecodeConfig(EncodeConfig(wrote), wrote.hex);
  QStringList out;
  for (const ConfigField& f : ConfigFields()) {
    if (f.kind == Kind::Flag && f.flag == &ConfigForm::hex) continue;
    if (FieldValue(f, expected) == FieldValue(f, read)) continue;
    out << QStringLiteral("config.%1: wrote %2, read %3")
               .arg(U(f.key), QString::fromUtf8(JsonText(FieldValue(f, wrote))),
                    QString::fromUtf8(JsonText(FieldValue(f, read))));
  }
  return out;
}

QStringList MqttDifferences(const MqttCredentials& wrote, const MqttCredentials& read) {
  const MqttCredentials expected = DecodeMqtt(EncodeMqtt(wrote));
  QStringList out;
  for (const MqttField& f : MqttFields()) {
    if (MqttValue(f, expected) == MqttValue(f, read)) continue;
    // The secret stays off the screen and out of the logs a script keeps.
    if (f.text == &MqttCredentials::device_secret) {
      out << U("mqtt.device_secret: the device holds a different secret");
      continue;
    }
    out << QStringLiteral("mqtt.%1: wrote %2, read %3")
               .arg(U(f.key), QString::fromUtf8(JsonText(MqttValue(f, wrote))),
                    QString::fromUtf8(JsonText(MqttValue(f, read))));
  }
  return out;
}

}  // namespace velmora
