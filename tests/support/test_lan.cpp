#include "support/test_lan.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::test {

namespace {

// Where `ip netns` keeps its names.
const QString kNetnsDir = QStringLiteral("/var/run/netns");
const QString kPrefix = QStringLiteral("velmora-lan-");
constexpr quint32 kNet = 0xC0000200;  // 192.0.2.0/24
constexpr quint32 kMask = 0xFFFFFF00;
constexpr int kFirstDevice = 10;  // host 1's last octet

// Each LAN of this process gets names of its own.
std::atomic<int> g_lans{0};

QString Errno() { return QString::fromLocal8Bit(std::strerror(errno)); }

QString FindIp() {
  // Often not on an ordinary user's PATH.
  const QString ip = QStandardPaths::findExecutable(QStringLiteral("ip"));
  return ip.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("ip"), {"/usr/sbin", "/sbin", "/usr/bin"}) : ip;
}

ifreq Request(const char* interface) {
  ifreq r{};
  std::strncpy(r.ifr_name, interface, IFNAMSIZ - 1);
  return r;
}

// Interface requests on `fd` act in the namespace the socket was made in.
bool SetAddress(int fd, const char* interface, unsigned long request, quint32 address, QString* why) {
  ifreq r = Request(interface);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_addr.s_addr = htonl(address);
  std::memcpy(&r.ifr_addr, &in, sizeof in);
  if (::ioctl(fd, request, &r) == 0) return true;
  *why = QStringLiteral("cannot set an address of %1: %2").arg(QLatin1String(interface), Errno());
  return false;
}

bool BringUp(int fd, const char* interface, QString* why) {
  ifreq r = Request(interface);
  if (::ioctl(fd, SIOCGIFFLAGS, &r) == 0) {
    r.ifr_flags |= IFF_UP;
    if (::ioctl(fd, SIOCSIFFLAGS, &r) == 0) return true;
  }
  *why = QStringLiteral("cannot bring %1 up: %2").arg(QLatin1String(interface), Errno());
  return false;
}

}  // namespace

TestLan::~TestLan() { Down(); }

QHostAddress TestLan::Address(int host) {
  if (host < 0 || host > kMaxDevices) return {};
  return QHostAddress(kNet + (host == 0 ? 1 : static_cast<quint32>(kFirstDevice - 1 + host)));
}

QString TestLan::Name(int host) const {
  return host >= 0 && host <= devices_ && !names_.isEmpty() ? names_[host + 1] : QString();
}

QStringList TestLan::Wrap(int host, const QStringList& argv) const {
  return QStringList{ip_.isEmpty() ? QStringLiteral("ip") : ip_, QStringLiteral("netns"), QStringLiteral("exec"),
                     Name(host)} +
         argv;
}

bool TestLan::Up(int devices, QString* why) {
  Down();
  if (devices < 1 || devices > kMaxDevices) {
    *why = QStringLiteral("a test LAN holds 1 to %1 device hosts, not %2").arg(kMaxDevices).arg(devices);
    return false;
  }
  ip_ = FindIp();
  if (ip_.isEmpty()) {
    *why = QStringLiteral("no `ip` program (iproute2) to make network namespaces with");
    return false;
  }
  RemoveLeftovers();
  base_ = QStringLiteral("%1%2-%3").arg(kPrefix).arg(::getpid()).arg(++g_lans);
  QStringList names{base_ + QStringLiteral("-br")};
  for (int h = 0; h <= devices; ++h) names << QStringLiteral("%1-h%2").arg(base_).arg(h);
  for (const QString& n : names) {
    // Not ours, though it has our name: left alone.
    if (QFile::exists(kNetnsDir + QLatin1Char('/') + n)) {
      *why = QStringLiteral("the network namespace %1 exists already").arg(n);
      return false;
    }
  }
  names_ = names;
  devices_ = devices;
  if (Make(why)) return true;
  *why = QStringLiteral("cannot make the test network: %1 (it needs root, or CAP_SYS_ADMIN and CAP_NET_ADMIN, "
                        "and the kernel's veth and bridge support)")
             .arg(*why);
  Down();
  return false;
}

bool TestLan::Make(QString* why) {
  const QString& bridge = names_.first();
  QByteArray add;
  for (const QString& n : names_) add += "netns add " + n.toUtf8() + '\n';
  if (!Ip({QStringLiteral("-batch"), QStringLiteral("-")}, add, why)) return false;

  // Each pair is made with its ends already in their namespaces.
  QByteArray pairs;
  QByteArray ports = "link set lo up\nlink add br0 type bridge forward_delay 0\n";
  for (int h = 0; h <= devices_; ++h) {
    const QByteArray port = "p" + QByteArray::number(h);
    pairs += "link add " + port + " netns " + bridge.toUtf8() + " type veth peer name eth0 netns " +
             Name(h).toUtf8() + '\n';
    ports += "link set " + port + " master br0 up\n";
  }
  ports += "link set br0 up\n";
  if (!Ip({QStringLiteral("-batch"), QStringLiteral("-")}, pairs, why)) return false;
  if (!Ip({QStringLiteral("-n"), bridge, QStringLiteral("-batch"), QStringLiteral("-")}, ports, why)) return false;

  // From inside rather than by `ip -n`, which would cost a process (and a remount) a host.
  for (int h = 0; h <= devices_; ++h)
    if (!SetUpHost(h, why)) return false;
  return AwaitForwarding(why);
}

// A bridge port forwards only once the kernel has seen its carrier, which it does a little
// later (up to a second on a busy machine); a broadcast sent before then is lost to that host.
bool TestLan::AwaitForwarding(QString* why) const {
  const QStringList args{QStringLiteral("-n"), names_.first(), QStringLiteral("-d"), QStringLiteral("-o"),
                         QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("master"), QStringLiteral("br0")};
  QDeadlineTimer deadline(10000);
  int forwarding = 0;
  do {
    QByteArray out;
    if (!Ip(args, {}, why, &out)) return false;
    forwarding = static_cast<int>(out.count("state forwarding"));
    if (forwarding == devices_ + 1) return true;
    QThread::msleep(20);
  } while (!deadline.hasExpired());
  *why = QStringLiteral("only %1 of %2 bridge ports forward after 10 s").arg(forwarding).arg(devices_ + 1);
  return false;
}

bool TestLan::SetUpHost(int host, QString* why) {
  EnterHost inside(*this, host);
  if (!inside.Ok()) {
    *why = inside.Error();
    return false;
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *why = QStringLiteral("no socket: %1").arg(Errno());
    return false;
  }
  const quint32 address = Address(host).toIPv4Address();
  const bool ok = BringUp(fd, "lo", why) && SetAddress(fd, "eth0", SIOCSIFADDR, address, why) &&
                  SetAddress(fd, "eth0", SIOCSIFNETMASK, kMask, why) &&
                  SetAddress(fd, "eth0", SIOCSIFBRDADDR, kNet | ~kMask, why) && BringUp(fd, "eth0", why);
  ::close(fd);
  if (!ok) *why = QStringLiteral("%1: %2").arg(Name(host), *why);
  return ok;
}

void TestLan::Down() {
  QByteArray del;
  for (const QString& n : names_)
    if (QFile::exists(kNetnsDir + QLatin1Char('/') + n)) del += "netns del " + n.toUtf8() + '\n';
  names_.clear();
  devices_ = 0;
  QString why;
  if (!del.isEmpty() && !Ip({QStringLiteral("-force"), QStringLiteral("-batch"), QStringLiteral("-")}, del, &why))
    std::fprintf(stderr, "TestLan: %s\n", why.toLocal8Bit().constData());
}

// A test program killed on the way (a crash, a time-out) could not remove its LAN.
void TestLan::RemoveLeftovers() {
  static const QRegularExpression ours(QStringLiteral("^%1(\\d+)-\\d+-(br|h\\d+)$").arg(kPrefix));
  QByteArray del;
  for (const QString& n : QDir(kNetnsDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    const auto m = ours.match(n);
    if (!m.hasMatch()) continue;
    const pid_t pid = m.captured(1).toInt();
    if (::kill(pid, 0) != 0 && errno == ESRCH) del += "netns del " + n.toUtf8() + '\n';
  }
  QString ignored;
  if (!del.isEmpty()) Ip({QStringLiteral("-force"), QStringLiteral("-batch"), QStringLiteral("-")}, del, &ignored);
}

bool TestLan::Ip(const QStringList& args, const QByteArray& input, QString* why, QByteArray* out) const {
  QProcess p;
  p.start(ip_, args);
  if (!p.waitForStarted(10000)) {
    *why = QStringLiteral("cannot run %1: %2").arg(ip_, p.errorString());
    return false;
  }
  p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished(5000);
    *why = QStringLiteral("%1 %2 did not finish").arg(ip_, args.join(QLatin1Char(' ')));
    return false;
  }
  if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) {
    if (out) *out = p.readAllStandardOutput();
    return true;
  }
  QString said = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
  said.replace(QLatin1Char('\n'), QStringLiteral("; "));
  *why = QStringLiteral("ip %1: %2").arg(args.join(QLatin1Char(' ')), said);
  return false;
}

TestLan::EnterHost::EnterHost(const TestLan& lan, int host) {
  const QString name = lan.Name(host);
  if (name.isEmpty()) {
    error_ = QStringLiteral("the test LAN has no host %1").arg(host);
    return;
  }
  // This thread's own namespace, which need not be the process's.
  home_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (home_ < 0) {
    error_ = QStringLiteral("cannot hold on to this thread's network namespace: %1").arg(Errno());
    return;
  }
  const QByteArray path = (kNetnsDir + QLatin1Char('/') + name).toLocal8Bit();
  const int there = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (there < 0 || ::setns(there, CLONE_NEWNET) != 0) {
    error_ = QStringLiteral("cannot enter %1: %2").arg(name, Errno());
    ::close(home_);
    home_ = -1;
  }
  if (there >= 0) ::close(there);
}

TestLan::EnterHost::~EnterHost() {
  if (home_ < 0) return;
  if (::setns(home_, CLONE_NEWNET) != 0) {
    // Every socket this thread made from here on would be on the wrong network.
    std::fprintf(stderr, "TestLan: cannot return to the original network namespace: %s\n", std::strerror(errno));
    std::abort();
  }
  ::close(home_);
}

}  // namespace velmora::test
