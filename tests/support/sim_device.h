#pragma once
// A simulated device for command-line tests: velmora-sim on a pseudo-terminal or on
// loopback UDP, the LINK options that reach it, and what it stored.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "support/sim_process.h"
#include "support/udp_test_port.h"

namespace velmora::test {

// One simulated device and the LINK options that reach it.
struct SimDevice {
  SimProcess sim;
  QStringList link;
  QString state;

  // `udp_address` empty: the device on a pseudo-terminal; else on loopback UDP there.
  void Start(const QString& dir, const QString& name, const QString& udp_address = {}, const QStringList& extra = {}) {
    state = dir + QLatin1Char('/') + name + QStringLiteral(".state");
    QStringList args{QStringLiteral("--state"), state};
    if (udp_address.isEmpty()) {
      args << QStringLiteral("--no-udp");
    } else {
      args << QStringLiteral("--no-serial") << QStringLiteral("--udp-address") << udp_address
           << QStringLiteral("--udp-port") << QString::number(test::FreeUdpPort());
    }
    ASSERT_TRUE(sim.Start(args + extra)) << sim.StartError().toStdString();
    if (udp_address.isEmpty()) {
      link = {QStringLiteral("--serial"), sim.SerialPath()};
    } else {
      link = {QStringLiteral("--udp"), udp_address, QStringLiteral("--device-port"), QString::number(sim.UdpPort())};
    }
  }

  // The configuration record the device keeps.
  QByteArray StoredConfig() const {
    QFile f(state);
    if (!f.open(QIODevice::ReadOnly)) return {};
    for (const QByteArray& line : f.readAll().split('\n')) {
      if (line.startsWith("config ")) return QByteArray::fromHex(line.mid(7).trimmed());
    }
    return {};
  }

  // Frames of any kind the device took in.
  uint64_t FramesReceived() {
    const test::SimCounts counts = sim.Stop();
    EXPECT_TRUE(counts.complete);
    uint64_t n = 0;
    for (const auto& [name, value] : counts.values) {
      if (name.startsWith(QLatin1String("rx.")) || name.startsWith(QLatin1String("malformed"))) n += value;
    }
    return n;
  }
};

inline QStringList LocalPort() { return {QStringLiteral("--local-port"), QString::number(test::FreeUdpPort())}; }

}  // namespace velmora::test
