#pragma once
// One row of the device register: what one contact with a device taught us, with who,
// where and when. Facts nobody learned in that contact stay empty.

#include <QDateTime>
#include <QString>

#include <optional>

namespace velmora {

struct RegisterRow {
  qint64 id = 0;          // set by the register; 0 for a row not yet written
  QDateTime time;         // invalid: the moment it is written
  QString station;        // host name; empty: this computer's
  QString link;           // serial port path, or "udp"
  QString address;        // serial port path, or the device's IP address (":port" when not 21)
  std::optional<QString> firmware_version;
  std::optional<int> csq;
  std::optional<QString> mac;       // "02:1A:2B:3C:4D:5E"
  std::optional<QString> local_ip;  // from a configuration record
  std::optional<QString> product_key;
  std::optional<QString> device_name;
  // The MQTT device secret has no place here on purpose: the register is read by many.
  QString operation;      // "version", "read-config", "apply", "upgrade", ...
  bool ok = true;
  QString error;          // what went wrong; empty when ok
};

// Which rows to read.
struct RegisterFilter {
  QDateTime since;  // invalid: from the first
  QString address;  // empty: every device
};

// "192.168.1.20", or "192.168.1.20:2100" for a device that answers on another port
// than the usual 21.
QString UdpDeviceAddress(const QString& ip, quint16 port);

}  // namespace velmora
