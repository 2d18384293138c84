#include "profile/profile_fields.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "protocol/gbk.h"
#include "resources/config_layouts.h"
#include "resources/mqtt_layout.h"

namespace velmora::profile_fields {
namespace {

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
ConfigField ListField(const char* key, int ConfigForm::*m, int control, std::vector<ListName> names) {
  ConfigField f{key, Kind::List};
  f.position = m;
  f.control = control;
  f.names = std::move(names);
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

const res::Control& LayoutControl(const res::Dialog& dialog, int id) {
  for (const res::Control& c : dialog.controls) {
    if (c.id == id) return c;
  }
  Q_ASSERT_X(false, "LayoutControl", "a profile key names a control of its page");
  static const res::Control none;
  return none;
}

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

QJsonValue ListValue(int position, const std::vector<ListName>& names) {
  if (position < 0 || position >= static_cast<int>(names.size())) return QJsonValue::Null;
  return U(names[static_cast<std::size_t>(position)].id);
}

bool IsHexDigit(QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f'); }

QJsonValue MacValue(const std::string& text) {
  const QString s = FromGbk(text);
  // What the page holds when no address is typed, and whatever else the reader refuses by
  // name, is written as it is.
  if (s.trimmed().isEmpty()) return QString();
  return CanonicalMac(s).value_or(s);
}

}  // namespace

const std::vector<ConfigField>& ConfigFields() {
  using F = ConfigForm;
  static const std::vector<ConfigField> fields{
      AddressField("local_ip", &F::local_ip),
      AddressField("subnet_mask", &F::subnet_mask),
      AddressField("gateway", &F::gateway),
      FlagField("dhcp", &F::dhcp),
      AddressField("server_ip", &F::server_ip),
      NumberField("eth_port", &F::eth_port, kPortMax),
      ListField("network_mode", &F::net_mode, res::kIdcNetMode, {{"tcp_client"}, {"tcp_server"}, {"udp_client"}}),
      TextField("domain", Kind::Text, &F::domain, res::kIdcDomain),
      TextField("ip0_domain", Kind::Text, &F::ip0_domain, res::kIdcIp0Domain),
      NumberField("ip0_domain_port", &F::ip0_domain_port, kPortMax),
      AddressField("ip0_address", &F::ip0_addr),
      NumberField("ip0_address_port", &F::ip0_addr_port, kPortMax),
      AddressField("ip1_address", &F::ip1_addr),
      NumberField("ip1_port", &F::ip1_port, kPortMax),
      TextField("lora_frequency", Kind::Frequency, &F::lora_freq),
      ListField("sleep_time", &F::sleep_time, res::kIdcSleepTime, {{"2s"}, {"4s"}, {"6s"}, {"8s"}, {"10s"}}),
      ListField("breathe_time", &F::breathe_time, res::kIdcBreatheTime,
                {{"2ms"}, {"4ms"}, {"8ms"}, {"16ms"}, {"32ms"}, {"64ms"}}),
      NumberField("lora_net_address", &F::lora_net_addr, kByteMax),
      ListField("tx_power", &F::tx_power, res::kSerialFormLists.tx_power,
                {{"level1"}, {"level2"}, {"level3"}, {"level4"}, {"level5"}, {"level6"}, {"level7"}}),
      ListField("uart_baud", &F::uart_baud, res::kIdcUartBaud,
                {{"1200"}, {"2400"}, {"4800"}, {"9600"}, {"19200"}, {"38400"}, {"57600"}, {"115200"}}),
      ListField("uart_parity", &F::uart_parity, res::kIdcUartParity, {{"none"}, {"odd"}, {"even"}}),
      ListField("uart_mode", &F::uart_mode, res::kIdcUartMode, {{"ttl"}, {"rs232"}, {"rs485"}}),
      ListField("uart_map", &F::uart_map, res::kSerialFormLists.uart_map,
                {{"off", "Off"}, {"lora"}, {"ip0_4g"}, {"ip1_4g"}, {"ethernet", "Ethernet"}}),
      FlagField("hex", &F::hex),
      PacketField("heartbeat", &F::heartbeat, kHeartbeatBytes),
      PacketField("register_data", &F::register_data, kRegisterBytes),
      TextField("mac", Kind::Mac, &F::mac),
  };
  return fields;
}

const std::vector<MqttField>& MqttFields() {
  static const std::vector<MqttField> fields{
      {"port_map", res::kIdcMqttPortMap, nullptr, {{"off", "Off"}, {"ip0_4g"}, {"ip1_4g"}, {"enet_tcp"}}},
      {"product_key", res::kIdcProductKey, &MqttCredentials::product_key},
      {"device_name", res::kIdcDeviceName, &MqttCredentials::device_name},
      {"device_secret", res::kIdcDeviceSecret, &MqttCredentials::device_secret},
  };
  return fields;
}

const res::Control& FormControl(int id) { return LayoutControl(res::SerialConfigDialog(), id); }
const res::Control& MqttControl(int id) { return LayoutControl(res::MqttDialog(), id); }

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QByteArray JsonText(const QJsonValue& v) {
  const QByteArray a = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
  return a.mid(1, a.size() - 2);
}

QString Quoted(const char* utf8) { return QString::fromUtf8(JsonText(QJsonValue(U(utf8)))); }

std::optional<int> ListPosition(const QString& value, const res::Control& list, const std::vector<ListName>& names) {
  Q_ASSERT_X(names.size() == list.items.size(), "ListPosition", "a name for every item of the list");
  for (std::size_t i = 0; i < names.size() && i < list.items.size(); ++i) {
    const ListName& n = names[i];
    if (value == QLatin1String(n.id) || value == U(list.items[i]) || (n.english && value == QLatin1String(n.english)))
      return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<QString> CanonicalMac(const QString& s) {
  if (s.isEmpty()) return QString();
  // Pairs with an optional ' ', ':' or '-' between them; the page writes a space after each.
  QStringList pairs;
  qsizetype i = 0;
  while (i < s.size()) {
    if (!pairs.isEmpty() && pairs.size() < 6 && (s[i] == u' ' || s[i] == u':' || s[i] == u'-')) ++i;
    if (i + 1 >= s.size() || !IsHexDigit(s[i]) || !IsHexDigit(s[i + 1])) break;
    pairs << s.mid(i, 2).toUpper();
    i += 2;
    if (pairs.size() == 6) {
      if (i < s.size() && s[i] == u' ') ++i;
      break;
    }
  }
  if (pairs.size() != 6 || i != s.size()) return std::nullopt;
  return pairs.join(u':');
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
      return ListValue(form.*f.position, f.names);
    case Kind::Text:
      return FromGbk(form.*f.text);
    case Kind::Mac:
      return MacValue(form.*f.text);
    case Kind::Packet:
      return FromGbk((form.*f.packet).value_or(std::string()));
  }
  return {};
}

QJsonValue MqttValue(const MqttField& f, const MqttCredentials& c) {
  if (!f.text) return ListValue(c.port_map, f.names);
  return FromGbk(c.*f.text);
}

}  // namespace velmora::profile_fields
