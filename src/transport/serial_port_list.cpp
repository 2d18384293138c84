#include "transport/serial_port_list.h"

#include <QFile>
#include <QSerialPortInfo>

#include <algorithm>
#include <utility>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <iterator>
#include <string>
#elif defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <sys/types.h>
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>
#include <string>
#endif
#endif

namespace velmora {

namespace {

// The number of "COM12" or "\\.\COM12" (any letter case), else 0.
[[maybe_unused]] unsigned ComNumber(QString name) {
  if (name.startsWith(QLatin1String("\\\\.\\"))) name = name.mid(4);
  if (name.size() < 4 || !name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) return 0;
  unsigned n = 0;
  for (qsizetype i = 3; i < name.size(); ++i) {
    const char16_t c = name[i].unicode();
    if (c < u'0' || c > u'9' || n > 100000) return 0;
    n = n * 10 + (c - u'0');
  }
  return n;
}

// "COM2" before "COM10", "ttyS1" before "ttyS10" before "ttyUSB0".
bool NameBefore(const QString& a, const QString& b) {
  auto split = [](const QString& s) {
    qsizetype i = s.size();
    while (i > 0 && s[i - 1].unicode() >= u'0' && s[i - 1].unicode() <= u'9') --i;
    return std::pair{s.left(i), s.mid(i)};
  };
  const auto [stem_a, digits_a] = split(a);
  const auto [stem_b, digits_b] = split(b);
  if (stem_a != stem_b) return stem_a < stem_b;
  if (digits_a.size() != digits_b.size()) return digits_a.size() < digits_b.size();
  return digits_a != digits_b ? digits_a < digits_b : a < b;
}

#ifdef Q_OS_LINUX
// Whether a character device belongs to a serial or pseudo-terminal driver, from the
// kernel's own table of terminal drivers: /dev/null or a console is no port.
bool IsSerialDevice(dev_t device) {
  std::ifstream drivers("/proc/tty/drivers");
  if (!drivers) return true;  // no table to ask: a character device is all we know
  std::string line;
  while (std::getline(drivers, line)) {
    // "usbserial  /dev/ttyUSB  188 0-511 serial"
    std::istringstream fields(line);
    std::string driver, node, minors, type;
    unsigned major_number = 0;
    if (!(fields >> driver >> node >> major_number >> minors >> type)) continue;
    if (type != "serial" && type != "pty:slave") continue;
    if (major_number != major(device)) continue;
    unsigned long first = 0, last = 0;
    const auto dash = minors.find('-');
    try {
      first = std::stoul(minors.substr(0, dash));
      last = dash == std::string::npos ? first : std::stoul(minors.substr(dash + 1));
    } catch (...) {
      continue;
    }
    if (minor(device) >= first && minor(device) <= last) return true;
  }
  return false;
}
#endif

}  // namespace

QString SerialPortList::PortName(unsigned number) {
  return number < 10 ? QStringLiteral("COM%1").arg(number) : QStringLiteral("\\\\.\\COM%1").arg(number);
}

std::vector<SerialPortEntry> SerialPortList::Ports() {
  std::vector<SerialPortEntry> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    SerialPortEntry entry;
    entry.name = info.portName();
    entry.path = info.systemLocation();
#ifdef Q_OS_WIN
    if (const unsigned n = ComNumber(entry.name)) entry.name = QStringLiteral("COM%1").arg(n);
#else
    // The system may know of ports whose device node is not there (a container, a
    // node removed by hand): nothing to open.
    if (!Exists(entry.path)) continue;
#endif
    if (std::any_of(ports.begin(), ports.end(), [&](const SerialPortEntry& e) { return e.name == entry.name; })) {
      continue;
    }
    entry.description = info.description();
    entry.manufacturer = info.manufacturer();
    entry.serial_number = info.serialNumber();
    entry.has_ids = info.hasVendorIdentifier() && info.hasProductIdentifier();
    if (entry.has_ids) {
      entry.vid = info.vendorIdentifier();
      entry.pid = info.productIdentifier();
    }
    ports.push_back(std::move(entry));
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortEntry& a, const SerialPortEntry& b) { return NameBefore(a.name, b.name); });
  return ports;
}

QStringList SerialPortList::Names() {
  QStringList names;
  for (const SerialPortEntry& entry : Ports()) names.append(entry.name);
  return names;
}

bool SerialPortList::Exists(const QString& name) {
  if (name.isEmpty()) return false;
#ifdef Q_OS_WIN
  // A COM name is there when the device namespace defines it; other names only when
  // the system lists them.
  if (const unsigned n = ComNumber(name)) {
    const std::wstring device = QStringLiteral("COM%1").arg(n).toStdWString();
    wchar_t target[512];
    if (::QueryDosDeviceW(device.c_str(), target, static_cast<DWORD>(std::size(target))) != 0 ||
        ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      return true;
    }
  }
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    if (name.compare(info.portName(), Qt::CaseInsensitive) == 0 ||
        name.compare(info.systemLocation(), Qt::CaseInsensitive) == 0) {
      return true;
    }
  }
  return false;
#elif defined(Q_OS_UNIX)
  // A bare name lives in /dev, as for QSerialPort.
  const bool is_path = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
                       name.startsWith(QLatin1String("../"));
  const QString path = is_path ? name : QStringLiteral("/dev/") + name;
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
#ifdef Q_OS_LINUX
  return IsSerialDevice(st.st_rdev);
#else
  return true;
#endif
#else
  return false;
#endif
}

}  // namespace velmora
