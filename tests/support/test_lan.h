#pragma once
// A broadcast domain for tests, built from Linux network namespaces: loopback has none.
//
//   TestLan lan;                                   // first, so it is removed last
//   QString why;
//   if (!lan.Up(3, &why)) GTEST_SKIP() << why.toStdString();
//   SimProcess sim;                                // started on host 1
//   sim.SetLauncher(lan.Wrap(1, {}));
//   sim.Start({"--no-serial", "--udp-address", "0.0.0.0", "--udp-port", "21"});
//   {
//     TestLan::EnterHost on_host(lan, 0);          // this thread is now on host 0
//     ASSERT_TRUE(on_host.Ok()) << on_host.Error().toStdString();
//     QUdpSocket socket;
//     socket.bind(QHostAddress::AnyIPv4, 0);       // made here, it stays on host 0
//   }
//
// The layout: one namespace holds a bridge; each host namespace holds loopback (up) and
// eth0, one end of a veth pair whose other end is a port of the bridge. Host 0 (the
// tool) is 192.0.2.1, device host i (1..N) is 192.0.2.(9 + i), all /24 with broadcast
// 192.0.2.255. Nothing leads out of the namespaces, and the veth pairs are made inside
// them: the machine's own namespace never holds anything of this. Namespace names carry
// the process id and a count, so test programs running side by side never meet.
//
// Making namespaces needs root (or CAP_SYS_ADMIN and CAP_NET_ADMIN) and `ip` from
// iproute2. Nothing is printed on success.

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace velmora::test {

class TestLan {
 public:
  // Device hosts the address plan holds: 192.0.2.10 to 192.0.2.254.
  static constexpr int kMaxDevices = 245;

  TestLan() = default;
  // Removes every namespace it made; programs still running in one lose their network
  // when they end, so stop them first (declare the LAN before them).
  ~TestLan();

  TestLan(const TestLan&) = delete;
  TestLan& operator=(const TestLan&) = delete;

  // Host 0 and `devices` device hosts on one bridge. False, with the reason in `why` and
  // nothing left behind, when it cannot be made (not root, no `ip`, no bridge support,
  // ...): tests skip with that reason. Also removes namespaces that test programs which
  // died without cleaning up left behind.
  bool Up(int devices, QString* why);
  // Removes the namespaces now (the destructor does it too).
  void Down();

  int Devices() const { return devices_; }
  // 192.0.2.1 for host 0, 192.0.2.(9 + host) for a device host.
  static QHostAddress Address(int host);
  static QHostAddress Broadcast() { return QHostAddress(QStringLiteral("192.0.2.255")); }
  // The host's namespace, as `ip netns` names it.
  QString Name(int host) const;
  // `argv` run inside the host: {"ip", "netns", "exec", Name(host), argv...}, with the
  // path of `ip`. The program sees only that host's interfaces.
  QStringList Wrap(int host, const QStringList& argv) const;

  // The calling thread works inside a host's network namespace while this lives, and
  // returns to the namespace it was in when it ends. Only this thread moves: Qt's other
  // threads stay where they are. A socket belongs to the namespace it was made in, so a
  // socket made (for QUdpSocket: bound, or first written to) inside stays on the host
  // after this ends; a process started inside runs on the host. Use it from the thread
  // that owns the sockets; it may nest.
  class EnterHost {
   public:
    EnterHost(const TestLan& lan, int host);
    ~EnterHost();
    EnterHost(const EnterHost&) = delete;
    EnterHost& operator=(const EnterHost&) = delete;

    bool Ok() const { return error_.isEmpty(); }
    QString Error() const { return error_; }

   private:
    int home_ = -1;  // the namespace to return to
    QString error_;
  };

 private:
  bool Make(QString* why);
  bool SetUpHost(int host, QString* why);
  bool AwaitForwarding(QString* why) const;
  // Runs `ip` with `args` and `input` on its standard input; false with its complaint.
  bool Ip(const QStringList& args, const QByteArray& input, QString* why, QByteArray* out = nullptr) const;
  void RemoveLeftovers();

  QString ip_;       // the ip program
  QString base_;     // the names' common part
  QStringList names_;  // every namespace of this LAN: the bridge's, then host 0..N
  int devices_ = 0;
};

}  // namespace velmora::test
