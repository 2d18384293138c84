#include "cli/ports_command.h"

#include <QJsonObject>

#include "cli/exit_status.h"
#include "transport/serial_port_list.h"

namespace velmora::cli {

int PortsCommand::RunLocal(Output& out) {
  // The window's own listing: the same ports, none of them opened.
  for (const SerialPortEntry& port : SerialPortList::Ports()) {
    if (out.Json()) {
      out.JsonLine(QJsonObject{{QStringLiteral("port"), port.path},
                               {QStringLiteral("description"), port.description},
                               {QStringLiteral("manufacturer"), port.manufacturer},
                               {QStringLiteral("serial_number"), port.serial_number}});
    } else {
      QString line = port.path;
      if (!port.description.isEmpty()) line += QStringLiteral("  ") + port.description;
      if (!port.manufacturer.isEmpty()) line += QStringLiteral(" (") + port.manufacturer + QLatin1Char(')');
      if (!port.serial_number.isEmpty()) line += QStringLiteral(" #") + port.serial_number;
      out.Document(line.toUtf8());
    }
  }
  return kExitDone;
}

}  // namespace velmora::cli
