#pragma once
// The simulator's command line.

#include <QString>
#include <QStringList>

#include <optional>

#include "device.h"

namespace velmora::sim {

struct SimOptions {
  bool serial = true;
  QString serial_path;  // empty: a pseudo-terminal of our own
  QString link_path;    // a symbolic link kept to the pseudo-terminal
  int baud = 0;         // 0: no line modelled
  bool udp = true;
  QString udp_address = QStringLiteral("127.0.0.1");
  int udp_port = 21;    // 0: any free port (the one taken is printed)
  int delay_ms = 0;
  DeviceOptions device;
};

struct ParsedOptions {
  std::optional<SimOptions> options;  // empty on error or help
  QString error;                      // what is wrong with the command line
  bool help = false;
};

// `args` includes the program name first, as QCoreApplication::arguments() gives it.
ParsedOptions ParseSimOptions(const QStringList& args);
QString SimHelpText();

}  // namespace velmora::sim
