#pragma once
// The real tool (the offscreen main window with its real serial port and UDP endpoint)
// against the real velmora-sim process: a pseudo-terminal on one side, loopback UDP on
// the other. Everything is driven through the controls, as an engineer would.

#include <QFile>
#include <QTemporaryDir>

#include <optional>

#include "pages/page_harness.h"
#include "support/sim_process.h"

// Readable failures for the texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace velmora::test {

// Everything here is slower under the sanitizers; waits are generous but bounded.
inline constexpr std::chrono::milliseconds kReplyTimeout{10000};

struct SimAndTool : PageHarness {
  QTemporaryDir dir;
  SimProcess sim;

  ~SimAndTool() {
    // The port lets go of the pseudo-terminal before the simulator takes it away.
    serial.Close();
  }

  QString StatePath() const { return dir.filePath(QStringLiteral("device-state.txt")); }
  QString ImagePath() const { return dir.filePath(QStringLiteral("received.bin")); }

  // Starts velmora-sim where this tool's UDP endpoint sends, keeping its records and the
  // firmware it accepts in this test's own folder.
  void StartSim(const QStringList& extra = {}) {
    ASSERT_TRUE(dir.isValid());
    QStringList args{QStringLiteral("--udp-port"), QString::number(udp_device_port), QStringLiteral("--state"),
                     StatePath(), QStringLiteral("--image-out"), ImagePath()};
    args += extra;
    ASSERT_TRUE(sim.Start(args)) << sim.StartError().toStdString();
    ASSERT_FALSE(sim.SerialPath().isEmpty());
    ASSERT_EQ(sim.UdpPort(), udp_device_port);
  }

  // The serial page on the simulator's terminal: its path typed into the port list.
  void OpenSerialToSim() {
    TypeInList(Serial(), 1000, sim.SerialPath());
    Choose(Serial(), 1002, QStringLiteral("NO"));
    Click(Serial(), 1003);
    ASSERT_TRUE(serial.IsOpen()) << LogText().toStdString();
  }
  // The network page towards the simulator on loopback.
  void OpenUdpToSim() {
    TypeAddress(Network(), 1016, QStringLiteral("127.0.0.1"));
    Click(Network(), 1003);
    ASSERT_TRUE(udp.IsOpen()) << LogText().toStdString();
  }

  // Clicks a command button and waits until its reply has been handled: the page sets
  // the status to "...." on sending and to "Successful!" once the reply is through.
  bool Command(const QWidget& page, int id) {
    window->SetStatusText(QString());
    Click(page, id);
    return WaitUntil([&] { return window->StatusText() == QLatin1String("Successful!"); }, kReplyTimeout);
  }

  // What the simulator keeps in its state file under `key` ("config" or "mqtt").
  std::optional<QByteArray> StoredRecord(const char* key) const {
    QFile f(StatePath());
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray prefix = QByteArray(key) + ' ';
    for (const QByteArray& line : f.readAll().split('\n')) {
      if (line.startsWith(prefix)) return QByteArray::fromHex(line.mid(prefix.size()).trimmed());
    }
    return std::nullopt;
  }
};

template <class Array>
QByteArray AsBytes(const Array& a) {
  return QByteArray(reinterpret_cast<const char*>(a.data()), static_cast<qsizetype>(a.size()));
}

}  // namespace velmora::test
