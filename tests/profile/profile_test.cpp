#include "profile/profile.h"
#include "profile/profile_fields.h"
#include "profile/profile_compare.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <filesystem>
#include <functional>

#include "config/config_defaults.h"
#include "mqtt/mqtt_defaults.h"
#include "protocol/gbk.h"
#include "resources/config_layouts.h"

namespace velmora {
namespace {

std::string Gbk(const char* utf8) { return ToGbk(QString::fromUtf8(utf8)); }

// Every field away from its default, texts beyond ASCII, a MAC as the writer writes it.
Profile BusyProfile() {
  ConfigForm f = DefaultConfigForm();
  f.local_ip = {10, 0, 0, 7};
  f.subnet_mask = {255, 255, 0, 0};
  f.gateway = {10, 0, 0, 1};
  f.dhcp = true;
  f.server_ip = {127, 0, 0, 1};
  f.eth_port = "65535";
  f.net_mode = 1;
  f.domain = Gbk("站点一.example");
  f.ip0_domain = Gbk("四号线.example");
  f.ip0_domain_port = "7001";
  f.ip0_addr = {127, 0, 0, 2};
  f.ip0_addr_port = "0";
  f.ip1_addr = {255, 255, 255, 255};
  f.ip1_port = "9";
  f.lora_freq = "433.125";
  f.sleep_time = 4;
  f.breathe_time = 5;
  f.lora_net_addr = "255";
  f.tx_power = 0;
  f.uart_baud = 7;
  f.uart_parity = 2;
  f.uart_mode = 2;
  f.uart_map = 4;
  f.hex = true;
  f.heartbeat = "AA BB CC DD EE FF 00 11 22 33 ";
  f.register_data = "0102";
  f.mac = "02:1A:2B:3C:4D:5E";
  return Profile{f, MqttCredentials{3, "pk", Gbk("设备七"), "s3cr\"et"}, QStringLiteral("fw/app.bin")};
}

TEST(Profile, TemplateAndBusyProfileComeBackEqualThroughTheirJson) {
  for (const Profile& p : {TemplateProfile(), BusyProfile()}) {
    const QByteArray json = ProfileJson(p);
    const ProfileResult back = ParseProfile(json);
    ASSERT_TRUE(back.profile) << back.error.toStdString() << "\n" << json.toStdString();
    EXPECT_EQ(*back.profile, p) << json.toStdString();
    EXPECT_EQ(EncodeConfig(*back.profile->config), EncodeConfig(*p.config));
    EXPECT_EQ(ProfileJson(*back.profile), json);
  }
  // The file lists every field of the form, in the form's order, by name.
  const QJsonDocument doc = QJsonDocument::fromJson(ProfileJson(BusyProfile()));
  const QStringList keys = doc.object().value("config").toObject().keys();
  QStringList expected{"local_ip",     "subnet_mask",     "gateway",          "dhcp",        "server_ip",
                       "eth_port",     "network_mode",    "domain",           "ip0_domain",  "ip0_domain_port",
                       "ip0_address",  "ip0_address_port", "ip1_address",     "ip1_port",    "lora_frequency",
                       "sleep_time",   "breathe_time",    "lora_net_address", "tx_power",    "uart_baud",
                       "uart_parity",  "uart_mode",       "uart_map",         "hex",         "heartbeat",
                       "register_data", "mac"};
  QStringList order;
  for (const QByteArray& line : ProfileJson(BusyProfile()).split('\n')) {
    if (line.startsWith("        \"")) order << QString::fromUtf8(line.mid(9, line.indexOf('"', 9) - 9));
  }
  EXPECT_EQ(order.mid(0, expected.size()), expected);
  expected.sort();
  EXPECT_EQ(keys, expected);
  const QJsonObject config = doc.object().value("config").toObject();
  EXPECT_EQ(config.value("network_mode"), QJsonValue("tcp_server"));
  EXPECT_EQ(config.value("uart_map"), QJsonValue("ethernet"));
  EXPECT_EQ(config.value("uart_parity"), QJsonValue("even"));
  EXPECT_EQ(config.value("mac"), QJsonValue("02:1A:2B:3C:4D:5E"));
  EXPECT_EQ(config.value("uart_baud"), QJsonValue("115200"));
  EXPECT_EQ(config.value("lora_frequency"), QJsonValue(433.125));
  EXPECT_EQ(config.value("eth_port"), QJsonValue(65535));
  EXPECT_EQ(config.value("domain"), QJsonValue(QString::fromUtf8("站点一.example")));
  EXPECT_EQ(doc.object().value("mqtt").toObject().value("port_map"), QJsonValue("enet_tcp"));

  // The reader takes captions from the serial page; the network page shows the same lists.
  const auto items = [](const res::Dialog& d, int id) {
    for (const res::Control& c : d.controls)
      if (c.id == id) return std::vector<std::string>(c.items.begin(), c.items.end());
    return std::vector<std::string>{};
  };
  EXPECT_EQ(items(res::SerialConfigDialog(), res::kSerialFormLists.tx_power),
            items(res::NetworkConfigDialog(), res::kNetworkFormLists.tx_power));
  EXPECT_EQ(items(res::SerialConfigDialog(), res::kSerialFormLists.uart_map),
            items(res::NetworkConfigDialog(), res::kNetworkFormLists.uart_map));
}

// A profile as the window and velmora-cli wrote them before lists were written by
// identifier: Chinese captions, and the MAC as the page shows it.
constexpr char kCaptionProfile[] = R"({
    "format": "velmora-profile",
    "version": 1,
    "config": {
        "local_ip": "10.0.0.7", "subnet_mask": "255.255.0.0", "gateway": "10.0.0.1", "dhcp": false,
        "server_ip": "203.0.113.10", "eth_port": 2000, "network_mode": "UDP Client", "domain": "",
        "ip0_domain": "", "ip0_domain_port": 0, "ip0_address": "203.0.113.10", "ip0_address_port": 2233,
        "ip1_address": "203.0.113.10", "ip1_port": 0, "lora_frequency": 434, "sleep_time": "10s",
        "breathe_time": "64ms", "lora_net_address": 0, "tx_power": "Level3", "uart_baud": "57600",
        "uart_parity": "ODD", "uart_mode": "RS485", "uart_map": "以太网", "hex": false, "heartbeat": "",
        "register_data": "", "mac": "02 1a 2B 3C 4D 5E "
    },
    "mqtt": {"port_map": "关闭", "product_key": "pk", "device_name": "dn", "device_secret": "ds"}
})";

TEST(Profile, ListsReadTheSameByIdentifierAndByEitherCaptionAndAreWrittenByIdentifier) {
  const ProfileResult old = ParseProfile(kCaptionProfile);
  ASSERT_TRUE(old.profile) << old.error.toStdString();
  const ConfigForm& f = *old.profile->config;
  EXPECT_EQ((std::vector<int>{f.net_mode, f.sleep_time, f.breathe_time, f.tx_power, f.uart_baud, f.uart_parity,
                              f.uart_mode, f.uart_map, old.profile->mqtt->port_map}),
            (std::vector<int>{2, 4, 5, 2, 6, 1, 2, 4, 0}));
  EXPECT_EQ(f.mac, "02:1A:2B:3C:4D:5E");

  // Written again: identifiers, and a MAC without the page's trailing space.
  const QByteArray json = ProfileJson(*old.profile);
  const QJsonObject config = QJsonDocument::fromJson(json).object().value("config").toObject();
  const QJsonObject mqtt = QJsonDocument::fromJson(json).object().value("mqtt").toObject();
  const QStringList written{config["network_mode"].toString(), config["sleep_time"].toString(),
                            config["breathe_time"].toString(),  config["tx_power"].toString(),
                            config["uart_baud"].toString(),     config["uart_parity"].toString(),
                            config["uart_mode"].toString(),     config["uart_map"].toString(),
                            mqtt["port_map"].toString(),        config["mac"].toString()};
  EXPECT_EQ(written, QStringList({"udp_client", "10s", "64ms", "level3", "57600", "odd", "rs485", "ethernet", "off",
                                  "02:1A:2B:3C:4D:5E"}));

  // The English captions, as the window shows them in English, name the same items.
  QByteArray english = kCaptionProfile;
  english.replace("\"以太网\"", "\"Ethernet\"").replace("\"关闭\"", "\"Off\"");
  const ProfileResult en = ParseProfile(english);
  ASSERT_TRUE(en.profile) << en.error.toStdString();
  EXPECT_EQ(*en.profile, *old.profile);
  EXPECT_EQ(ParseProfile(json).profile, old.profile);

  // Every other way of writing a MAC comes out the one way; an empty one stays empty.
  for (const char* mac : {"02-1A-2B-3C-4D-5E", "021a2b3c4d5e", "02 1A 2B 3C 4D 5E"}) {
    ConfigForm form = f;
    form.mac = mac;
    EXPECT_TRUE(ProfileJson(Profile{form, {}, {}}).contains("\"mac\": \"02:1A:2B:3C:4D:5E\"")) << mac;
  }
  ConfigForm none = f;
  none.mac = "";
  EXPECT_TRUE(ProfileJson(Profile{none, {}, {}}).contains("\"mac\": \"\"\n"));
}

// The English captions the reader takes are the translations the window shows, and no
// name of a list stands for two of its items.
TEST(Profile, ListNamesMatchTheEnglishTranslationAndAreUnambiguous) {
  QFile ts(QStringLiteral(VELMORA_EN_TS));
  ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
  QHash<QString, QString> layout;  // source -> translation in the layout's context
  QXmlStreamReader xml(&ts);
  QString context, source;
  while (!xml.atEnd()) {
    if (!xml.readNextStartElement()) continue;
    if (xml.name() == u"name") context = xml.readElementText();
    if (xml.name() == u"source") source = xml.readElementText();
    if (xml.name() == u"translation" && context == "Layout") layout.insert(source, xml.readElementText());
  }
  ASSERT_FALSE(layout.isEmpty());
  const auto check = [&](const char* key, const res::Control& list, const std::vector<profile_fields::ListName>& names) {
    ASSERT_EQ(names.size(), list.items.size()) << key;
    QSet<QString> seen;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const QString caption = QString::fromUtf8(list.items[i]);
      const QString english = names[i].english ? QString::fromUtf8(names[i].english) : caption;
      EXPECT_EQ(english, layout.value(caption, caption)) << key;
      const QString id = QString::fromUtf8(names[i].id);
      EXPECT_EQ(id, id.toLower()) << key;
      for (const QString& name : QSet<QString>{id, caption, english}) {
        EXPECT_FALSE(seen.contains(name)) << key << " " << name.toStdString();
        seen.insert(name);
        EXPECT_EQ(profile_fields::ListPosition(name, list, names), static_cast<int>(i)) << key;
      }
    }
  };
  for (const profile_fields::ConfigField& f : profile_fields::ConfigFields()) {
    if (f.kind == profile_fields::Kind::List) check(f.key, profile_fields::FormControl(f.control), f.names);
  }
  for (const profile_fields::MqttField& f : profile_fields::MqttFields()) {
    if (!f.text) check(f.key, profile_fields::MqttControl(f.control), f.names);
  }
}

struct Mistake {
  const char* what;
  std::function<void(QJsonObject& top, QJsonObject& config, QJsonObject& mqtt)> change;
  const char* message;  // exactly what the reader says
};

TEST(Profile, EachKindOfMistakeIsRefusedWithOneMessageNamingTheField) {
  const QString baud_items = R"("1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200")";
  const std::string baud =
      ("config.uart_baud: must be one of " + baud_items + ", or the caption the list shows").toStdString();
  const std::string address = R"(must be a dotted address "a.b.c.d", each part from 0 to 255)";
  const Mistake mistakes[] = {
      // Wrong types.
      {"flag as text", [](auto&, auto& c, auto&) { c["dhcp"] = "yes"; }, "config.dhcp: must be true or false"},
      {"port as text", [](auto&, auto& c, auto&) { c["eth_port"] = "2000"; },
       "config.eth_port: must be a whole number from 0 to 65535"},
      {"text as number", [](auto&, auto&, auto& m) { m["device_name"] = 7; }, "mqtt.device_name: must be a text"},
      {"config not an object", [](auto& t, auto&, auto&) { t["config"] = QJsonArray{}; },
       "config: must be an object"},
      // Out of range.
      {"port above 65535", [](auto&, auto& c, auto&) { c["ip1_port"] = 65536; },
       "config.ip1_port: must be a whole number from 0 to 65535"},
      {"negative port", [](auto&, auto& c, auto&) { c["ip0_address_port"] = -1; },
       "config.ip0_address_port: must be a whole number from 0 to 65535"},
      {"fractional port", [](auto&, auto& c, auto&) { c["ip0_domain_port"] = 80.5; },
       "config.ip0_domain_port: must be a whole number from 0 to 65535"},
      {"network address above a byte", [](auto&, auto& c, auto&) { c["lora_net_address"] = 256; },
       "config.lora_net_address: must be a whole number from 0 to 255"},
      {"frequency beyond the record", [](auto&, auto& c, auto&) { c["lora_frequency"] = 1024.5; },
       "config.lora_frequency: must be a number of MHz from 0 to 1023.99"},
      // Unknown and missing keys.
      {"typo in config", [](auto&, auto& c, auto&) { c["lora_freq"] = 434; }, "config.lora_freq: unknown key"},
      {"typo in mqtt", [](auto&, auto&, auto& m) { m["secret"] = "x"; }, "mqtt.secret: unknown key"},
      {"typo at the top", [](auto& t, auto&, auto&) { t["firmwre"] = "a.bin"; }, "firmwre: unknown key"},
      {"missing field", [](auto&, auto& c, auto&) { c.remove("mac"); }, "config.mac: missing"},
      // Texts too long in GBK bytes, though short in characters.
      {"domain of 66 GBK bytes", [](auto&, auto& c, auto&) { c["domain"] = QString(33, QChar(0x7AD9)); },
       "config.domain: must take at most 64 GBK bytes; this text takes 66"},
      {"product key of 34 GBK bytes", [](auto&, auto&, auto& m) { m["product_key"] = QString(17, QChar(0x952E)); },
       "mqtt.product_key: must take at most 32 GBK bytes; this text takes 34"},
      {"heartbeat of 12 GBK bytes", [](auto&, auto& c, auto&) { c["heartbeat"] = QString::fromUtf8("心跳心跳心跳"); },
       "config.heartbeat: must take at most 10 GBK bytes; this text takes 12"},
      {"text GBK cannot write", [](auto&, auto& c, auto&) { c["ip0_domain"] = QString::fromUtf8("a😀"); },
       "config.ip0_domain: holds characters that GBK cannot write"},
      {"control character", [](auto&, auto&, auto& m) { m["device_secret"] = "a\nb"; },
       "mqtt.device_secret: must not hold control characters"},
      // Bad addresses.
      {"three parts", [](auto&, auto& c, auto&) { c["local_ip"] = "192.168.1"; }, "config.local_ip: "},
      {"part above 255", [](auto&, auto& c, auto&) { c["gateway"] = "192.168.1.256"; }, "config.gateway: "},
      {"not digits", [](auto&, auto& c, auto&) { c["server_ip"] = "a.b.c.d"; }, "config.server_ip: "},
      {"space inside", [](auto&, auto& c, auto&) { c["ip1_address"] = "1.2. 3.4"; }, "config.ip1_address: "},
      {"address as number", [](auto&, auto& c, auto&) { c["subnet_mask"] = 24; }, "config.subnet_mask: "},
      // Bad captions.
      {"baud not in the list", [](auto&, auto& c, auto&) { c["uart_baud"] = "9601"; }, baud.c_str()},
      {"baud as number", [](auto&, auto& c, auto&) { c["uart_baud"] = 9600; }, baud.c_str()},
      {"caption in other case", [](auto&, auto& c, auto&) { c["network_mode"] = "tcp client"; },
       R"(config.network_mode: must be one of "tcp_client", "tcp_server", "udp_client", or the caption the list shows)"},
      {"identifier in other case", [](auto&, auto& c, auto&) { c["uart_map"] = "OFF"; },
       R"(config.uart_map: must be one of "off", "lora", "ip0_4g", "ip1_4g", "ethernet", or the caption the list shows)"},
      {"port map", [](auto&, auto&, auto& m) { m["port_map"] = "ENET"; },
       R"(mqtt.port_map: must be one of "off", "ip0_4g", "ip1_4g", "enet_tcp", or the caption the list shows)"},
      // The form's own shapes.
      {"hex packet with a stray letter", [](auto&, auto& c, auto&) { c["hex"] = true; c["register_data"] = "AA G0"; },
       "config.register_data: with hex on, must be pairs of hex digits (spaces allowed), at most 32 bytes"},
      {"hex packet of 11 bytes", [](auto&, auto& c, auto&) { c["hex"] = true; c["heartbeat"] = "0011223344556677889900"; },
       "config.heartbeat: with hex on, must be pairs of hex digits (spaces allowed), at most 10 bytes"},
      {"short MAC", [](auto&, auto& c, auto&) { c["mac"] = "AA:BB:CC"; },
       R"(config.mac: must be empty or six hex bytes, such as "AA:BB:CC:DD:EE:FF" or "AA BB CC DD EE FF")"},
      // The file itself.
      {"other format", [](auto& t, auto&, auto&) { t["format"] = "velmora-config"; },
       R"(format: must be "velmora-profile")"},
      {"newer version", [](auto& t, auto&, auto&) { t["version"] = 2; },
       "version: 2 is newer than this program reads (1)"},
      {"empty firmware path", [](auto& t, auto&, auto&) { t["firmware"] = ""; },
       "firmware: must be the firmware file's path, relative to the profile's folder"},
      {"nothing to apply", [](auto& t, auto&, auto&) { t.remove("config"); t.remove("mqtt"); },
       R"(profile: holds none of "config", "mqtt" and "firmware")"},
  };
  const QJsonObject good = QJsonDocument::fromJson(ProfileJson(TemplateProfile())).object();
  for (const Mistake& m : mistakes) {
    QJsonObject top = good;
    QJsonObject config = top["config"].toObject();
    QJsonObject mqtt = top["mqtt"].toObject();
    m.change(top, config, mqtt);
    if (top.value("config").isObject()) top["config"] = config;
    if (top.contains("mqtt")) top["mqtt"] = mqtt;
    const ProfileResult r = ParseProfile(QJsonDocument(top).toJson());
    EXPECT_FALSE(r.profile) << m.what;
    const std::string error = r.error.toStdString();
    if (std::string(m.message).back() == ' ')
      EXPECT_EQ(error, m.message + address) << m.what;
    else
      EXPECT_EQ(error, m.message) << m.what;
  }
  // A parse error says where, in Qt's words.
  EXPECT_TRUE(ParseProfile("{\"format\": \"velmora-profile\",\n \"version\": 1,,}")
                  .error.startsWith("profile: not valid JSON (line 2, column "));
  EXPECT_EQ(ParseProfile("[1]").error.toStdString(), "profile: must be a JSON object");
  // Qt keeps the last of two equal keys; the reader refuses them, however they are spelled.
  QByteArray twice = ProfileJson(TemplateProfile());
  twice.replace("\"dhcp\": false,", "\"dhcp\": false, \"dh\\u0063p\": true,");
  EXPECT_EQ(ParseProfile(twice).error.toStdString(), "config.dhcp: appears twice");
  // What the form accepts on the edges is accepted.
  QJsonObject top = good;
  QJsonObject config = top["config"].toObject();
  config["mac"] = "aabbccddeeff";
  config["lora_frequency"] = 1023.99;
  config["local_ip"] = "0.0.0.0";
  top["config"] = config;
  const ProfileResult edge = ParseProfile("\xEF\xBB\xBF" + QJsonDocument(top).toJson());
  ASSERT_TRUE(edge.profile) << edge.error.toStdString();
  EXPECT_EQ(edge.profile->config->lora_freq, "1023.99");
}

TEST(Profile, FilesAreReplacedWholeAndCredentialsStayWithTheOwner) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("site.json");
  QFile old(path);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("old contents");
  old.close();
  ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));

  QString error;
  ASSERT_TRUE(WriteProfileFile(path, BusyProfile(), &error)) << error.toStdString();
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::status(path.toStdString()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  ProfileResult back = ReadProfileFile(path);
  ASSERT_TRUE(back.profile) << back.error.toStdString();
  EXPECT_EQ(*back.profile, BusyProfile());
  EXPECT_EQ(FirmwarePath(path, *back.profile), dir.filePath("fw/app.bin"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"site.json"}) << "no temporary left";

  Profile plain = BusyProfile();
  plain.mqtt.reset();
  const QString plain_path = dir.filePath("plain.json");
  ASSERT_TRUE(WriteProfileFile(plain_path, plain, &error)) << error.toStdString();
  EXPECT_TRUE(QFileInfo(plain_path).permissions() & QFile::ReadOther);

  // A form the reader would refuse is not saved, and says why.
  Profile unset = TemplateProfile();
  unset.config->uart_baud = -1;
  EXPECT_FALSE(WriteProfileFile(dir.filePath("unset.json"), unset, &error));
  EXPECT_TRUE(error.startsWith("config.uart_baud: must be one of")) << error.toStdString();
  EXPECT_FALSE(QFile::exists(dir.filePath("unset.json")));

  const ProfileResult missing = ReadProfileFile(dir.filePath("none.json"));
  EXPECT_FALSE(missing.profile);
  EXPECT_TRUE(missing.error.startsWith(dir.filePath("none.json") + ": cannot be read")) << missing.error.toStdString();
}

TEST(Profile, DifferencesAreWhatTheDeviceHoldsOtherwise) {
  const Profile p = BusyProfile();
  // The device keeps the frequency to its step and drops addresses DHCP and domains replace.
  const ConfigForm read = DecodeConfig(EncodeConfig(*p.config), p.config->hex);
  EXPECT_EQ(read.lora_freq, "433.12");
  EXPECT_TRUE(ConfigDifferences(*p.config, read).isEmpty()) << ConfigDifferences(*p.config, read).join('\n').toStdString();
  ConfigForm changed = read;
  changed.eth_port = "65534";
  changed.uart_map = -1;
  EXPECT_EQ(ConfigDifferences(*p.config, changed),
            (QStringList{"config.eth_port: wrote 65535, read 65534", "config.uart_map: wrote \"ethernet\", read null"}));

  MqttCredentials other = DecodeMqtt(EncodeMqtt(*p.mqtt));
  EXPECT_TRUE(MqttDifferences(*p.mqtt, other).isEmpty());
  other.device_secret = "leaked?";
  other.product_key = "pq";
  EXPECT_EQ(MqttDifferences(*p.mqtt, other),
            (QStringList{"mqtt.product_key: wrote \"pk\", read \"pq\"",
                         "mqtt.device_secret: the device holds a different secret"}));
}

}  // namespace
}  // namespace velmora
