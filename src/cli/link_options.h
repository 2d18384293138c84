#pragma once
// The LINK options, read in the order given: --baud and --parity belong to the --serial
// before them, --device-port to the --udp before it. One dash or two alike.

#include <QCommandLineParser>
#include <QString>

#include <optional>
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

// A whole decimal number from `lo` to `hi`, or nothing.
std::optional<int> Number(const QString& text, int lo, int hi);
// none, odd, even, mark, space (any letter case) as 0..4, or nothing.
std::optional<int> ParityNumber(const QString& name);

}  // namespace velmora::cli
