#pragma once
// The LINK options, read in the order given: --baud and --parity belong to the --serial
// before them, --device-port to the --udp before it. One dash or two alike.

#include <QCommandLineParser>
#include <QString>

#include <vector>

#include "session/device_session.h"

namespace velmora::cli {

struct LinkOptions {
  std::vector<DeviceLink> links;
  quint16 local_port = 20;
  QString error;  // empty when the links are usable
};

// Reads the LINK options `parser` found; it must have parsed the command line already.
LinkOptions ScanLinks(const QCommandLineParser& parser);

}  // namespace velmora::cli
