#pragma once
// velmora-sim as a peer for tests: start it, find its pseudo-terminal and UDP port,
// watch its log, stop it and read its counts. Plus raw tool-side ends of both links
// for tests that speak frames themselves.

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUdpSocket>

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace velmora::test {

// What velmora-sim prints on exit.
struct SimCounts {
  bool complete = false;  // the counts block was printed: a clean exit
  std::map<QString, uint64_t> values;

  // 0 for a count that never happened.
  uint64_t Get(const QString& name) const;
};

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess();

  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The built velmora-sim.
  static QString Program();

  // Starts the program through `launcher` from the next Start on: `launcher` followed by
  // the program and its arguments, e.g. TestLan::Wrap(host, {}) to run it on a host of
  // a test LAN. Empty: the program itself.
  void SetLauncher(const QStringList& launcher) { launcher_ = launcher; }

  // Starts velmora-sim with `args` and waits until it is ready. Unless `args` name a
  // UDP port or turn UDP off, it listens on a free loopback port. False when it did
  // not come up; StartError() and ErrorOutput() tell why.
  bool Start(const QStringList& args = {}, int timeout_ms = 10000);

  bool Running() const { return process_.state() == QProcess::Running; }
  QString SerialPath() const { return serial_path_; }  // empty with --no-serial
  QHostAddress UdpAddress() const { return udp_address_; }
  quint16 UdpPort() const { return udp_port_; }         // 0 with --no-udp

  // Every line printed so far. Runs the event loop briefly, so it also suits tests in
  // which the tool itself is running.
  QStringList Lines();
  // Lines holding `text`.
  int CountLines(const QString& text);
  // Waits (running the event loop) until at least `count` lines hold `text`.
  bool WaitForLines(const QString& text, int count = 1, int timeout_ms = 5000);
  // Reads what it printed so far and lets go of it: a long run would otherwise keep
  // every line. Lines() starts again empty.
  void ForgetLines();

  // Asks it to stop (SIGTERM), waits, and returns its counts.
  SimCounts Stop(int timeout_ms = 10000);
  int ExitCode() const { return process_.exitCode(); }
  QString StartError() const { return start_error_; }
  QString ErrorOutput();

 private:
  void Pull();

  QProcess process_;
  QStringList launcher_;
  QByteArray partial_;
  QStringList lines_;
  QString serial_path_;
  QHostAddress udp_address_;
  quint16 udp_port_ = 0;
  QString start_error_;
  QByteArray stderr_;
};

// The tool's end of a serial line, raw, without the tool.
class RawSerial {
 public:
  RawSerial() = default;
  ~RawSerial();
  RawSerial(const RawSerial&) = delete;
  RawSerial& operator=(const RawSerial&) = delete;

  bool Open(const QString& path);
  bool Write(std::span<const uint8_t> bytes);
  // Reads until `n` bytes came or `timeout_ms` passed; returns what came.
  std::vector<uint8_t> Read(std::size_t n, int timeout_ms);
  // The next burst: waits up to `timeout_ms` for a first byte, then reads until the line
  // has been quiet for `quiet_ms` (the tool's own rule closes a burst after 5 ms).
  std::vector<uint8_t> ReadBurst(int quiet_ms, int timeout_ms);

 private:
  int fd_ = -1;
};

// The tool's end of the UDP link, on a free loopback port.
class RawUdp {
 public:
  RawUdp();
  bool Send(std::span<const uint8_t> bytes, const QHostAddress& to, quint16 port);
  // The next datagram, or nothing within `timeout_ms`.
  std::optional<QByteArray> Receive(int timeout_ms);
  QHostAddress LastSender() const { return last_sender_; }
  quint16 LastSenderPort() const { return last_sender_port_; }

 private:
  QUdpSocket socket_;
  QHostAddress last_sender_;
  quint16 last_sender_port_ = 0;
};

}  // namespace velmora::test
