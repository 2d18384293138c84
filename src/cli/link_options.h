#pragma once
// The LINK options, read in the order given: --baud and --parity belong to the --serial
// before them, --device-port to the --udp before it.

#include <QString>
#include <QStringList>

#include <vector>

#include "session/device_session.h"

namespace velmora::cli {

struct LinkOptions {
  std::vector<DeviceLink> links;
  quint16 local_port = 20;
  QString error;  // empty when the links are usable
};

LinkOptions ScanLinks(const QStringList& args);

// Names of the options that take a value, so the scan can step over them.
inline const QStringList kValueOptions{QStringLiteral("serial"),     QStringLiteral("baud"),
                                       QStringLiteral("parity"),     QStringLiteral("udp"),
                                       QStringLiteral("local-port"), QStringLiteral("device-port"),
                                       QStringLiteral("timeout"),    QStringLiteral("output"),
                                       QStringLiteral("o")};

}  // namespace velmora::cli
