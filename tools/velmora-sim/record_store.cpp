#include "record_store.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cctype>

#include "config/config_defaults.h"
#include "mqtt/mqtt_defaults.h"
#include "protocol/hex_string.h"

namespace velmora::sim {

namespace {

constexpr char kHeader[] = "# velmora-sim device state";

QByteArray Hex(std::span<const uint8_t> b) { return QByteArray::fromStdString(HexString(b, "")); }

// Exactly out.size() bytes of hex digits, nothing else.
bool FromHex(const QByteArray& text, std::span<uint8_t> out) {
  if (text.size() != static_cast<qsizetype>(out.size() * 2)) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  const QByteArray bytes = QByteArray::fromHex(text);
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return true;
}

}  // namespace

RecordStore::RecordStore()
    : config_(EncodeConfig(DefaultConfigForm())), mqtt_(EncodeMqtt(DefaultMqttCredentials())) {}

bool RecordStore::SetConfig(std::span<const uint8_t> payload) {
  if (payload.size() != config_.size()) return false;
  std::copy(payload.begin(), payload.end(), config_.begin());
  return true;
}

bool RecordStore::SetMqtt(std::span<const uint8_t> payload) {
  if (payload.size() != mqtt_.size()) return false;
  std::copy(payload.begin(), payload.end(), mqtt_.begin());
  return true;
}

bool RecordStore::Load(const QString& path, QString* error) {
  QFile file(path);
  if (!file.exists()) return true;
  if (!file.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
  }
  ConfigRecord config{};
  MqttRecordBytes mqtt{};
  bool have_config = false;
  bool have_mqtt = false;
  int line_no = 0;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine().trimmed();
    ++line_no;
    if (line.isEmpty() || line.startsWith('#')) continue;
    const qsizetype space = line.indexOf(' ');
    const QByteArray key = line.left(space);
    const QByteArray value = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
    bool ok = false;
    if (key == "config") {
      ok = !have_config && FromHex(value, config);
      have_config = true;
    } else if (key == "mqtt") {
      ok = !have_mqtt && FromHex(value, mqtt);
      have_mqtt = true;
    }
    if (!ok) {
      *error = QStringLiteral("%1:%2: expected one \"config\" line of %3 hex digits and one \"mqtt\" line of %4")
                   .arg(path)
                   .arg(line_no)
                   .arg(kConfigRecordSize * 2)
                   .arg(kMqttRecordSize * 2);
      return false;
    }
  }
  if (!have_config || !have_mqtt) {
    *error = QStringLiteral("%1: the %2 record is missing").arg(path, have_config ? "mqtt" : "config");
    return false;
  }
  config_ = config;
  mqtt_ = mqtt;
  return true;
}

bool RecordStore::Save(const QString& path, QString* error) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
  }
  QByteArray text = QByteArray(kHeader) + "\nconfig " + Hex(config_) + "\nmqtt " + Hex(mqtt_) + "\n";
  if (file.write(text) != text.size() || !file.commit()) {
    *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}

}  // namespace velmora::sim
