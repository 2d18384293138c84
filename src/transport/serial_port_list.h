#pragma once
// The system's serial ports, found without opening any of them.

#include <QString>
#include <QStringList>

#include <vector>

namespace velmora {

// A serial port as the system lists it, found without opening it. Whether another
// program holds it is only known by opening it, so the list does not say.
struct SerialPortEntry {
  QString name;           // what Open takes and the user sees: "COM3", "ttyUSB0"
  QString path;           // the full system location: "\\.\COM3", "/dev/ttyUSB0"
  QString description;    // the adapter's product text, when the system knows it
  QString manufacturer;
  QString serial_number;
  quint16 vid = 0;        // USB or PCI identifiers, valid when has_ids
  quint16 pid = 0;
  bool has_ids = false;
};

class SerialPortList {
 public:
  SerialPortList() = delete;

  // "COM3"; "\\.\COM12" from 10 up, the form the Windows device namespace needs.
  static QString PortName(unsigned number);
  // The system's serial ports, ordered by name and number (COM2 before COM10). None is
  // opened to find them: opening a port pulses DTR and RTS, which resets many boards.
  static std::vector<SerialPortEntry> Ports();
  // The names of Ports. Windows: "COM1".."COM255"; elsewhere the device names
  // (ttyUSB0, ttyACM0, ttyS0, ...).
  static QStringList Names();
  // True if the name or path is a serial device that is there now, listed or not (a
  // pseudo-terminal, an adapter the system has not listed yet). The device is not
  // opened, so a port held by this or another program is still there.
  static bool Exists(const QString& name);
};

}  // namespace velmora
