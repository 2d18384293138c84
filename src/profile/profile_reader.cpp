#include "profile/profile_reader.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "config/config_defaults.h"
#include "profile/profile_fields.h"
#include "protocol/gbk.h"

namespace velmora {

using namespace profile_fields;

namespace {

// A profile is a few kilobytes; a larger file is not one, and is not read into memory.
constexpr qint64 kMaxProfileBytes = 1 << 20;

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

Check ReadList(const QJsonValue& v, const res::Control& list, const std::vector<ListName>& names, int& out) {
  if (v.isString()) {
    if (const std::optional<int> at = ListPosition(v.toString(), list, names)) {
      out = *at;
      return std::nullopt;
    }
  }
  QStringList ids;
  for (const ListName& n : names) ids << Quoted(n.id);
  return U("must be one of ") + ids.join(QLatin1String(", ")) + U(", or the caption the list shows");
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
  // The form holds the one way the writer writes it, so a profile read and written again
  // is the same file.
  const std::optional<QString> mac = CanonicalMac(v.toString());
  if (!mac) return message;
  out = mac->toStdString();
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
      return ReadList(v, FormControl(f.control), f.names, form.*f.position);
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
                               : ReadList(*it, control, f.names, c.port_map);
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

ProfileResult ReadProfileFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return ProfileResult{std::nullopt, QStringLiteral("%1: cannot be read (%2)").arg(path, f.errorString())};
  if (f.size() > kMaxProfileBytes)
    return ProfileResult{std::nullopt, QStringLiteral("%1: is larger than a profile can be (%2 bytes at most)")
                                           .arg(path)
                                           .arg(kMaxProfileBytes)};
  const QByteArray json = f.read(kMaxProfileBytes + 1);
  if (json.size() > kMaxProfileBytes)
    return ProfileResult{std::nullopt, QStringLiteral("%1: is larger than a profile can be (%2 bytes at most)")
                                           .arg(path)
                                           .arg(kMaxProfileBytes)};
  return ParseProfile(json);
}

}  // namespace velmora
