#include "sim_app.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include "frame_parser.h"
#include "wire.h"

namespace velmora::sim {

namespace {

// Output the tool does not read piles up in the terminal; past this it is thrown away,
// as a real line would lose it.
constexpr qsizetype kMaxUnwritten = 64 * 1024;

// Wakes the event loop at a time given in nanoseconds. Qt's timers round to whole
// milliseconds, which on a modelled line would add up to a millisecond to every frame
// and reply: a throughput measured against the simulator would come out too low.
class FineTimer {
 public:
  explicit FineTimer(std::function<void()> fire) : fire_(std::move(fire)) {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
      coarse_.setSingleShot(true);
      coarse_.setTimerType(Qt::PreciseTimer);
      QObject::connect(&coarse_, &QTimer::timeout, [this] { fire_(); });
      return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      uint64_t expirations = 0;
      [[maybe_unused]] const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
      fire_();
    });
  }
  ~FineTimer() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
  }

  // At `at` (same clock as `now`), or never.
  void ArmAt(std::optional<Nanos> at, Nanos now) {
    if (fd_ < 0) {
      if (!at) return coarse_.stop();
      const Nanos wait = std::max<Nanos>(*at - now, 0);
      return coarse_.start(static_cast<int>((wait + kMilli - 1) / kMilli));
    }
    itimerspec when{};
    if (at) {
      // A floor keeps a fast line from waking us for every single byte.
      const Nanos wait = std::max<Nanos>(*at - now, kMinWait);
      when.it_value.tv_sec = static_cast<time_t>(wait / 1'000'000'000);
      when.it_value.tv_nsec = static_cast<long>(wait % 1'000'000'000);
    }
    timerfd_settime(fd_, 0, &when, nullptr);
  }

 private:
  static constexpr Nanos kMinWait = 100'000;

  std::function<void()> fire_;
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer coarse_;
};

void RawTermios(termios& t) {
  std::memset(&t, 0, sizeof t);
  cfmakeraw(&t);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

speed_t SpeedConstant(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
  }
}

QString Errno() { return QString::fromLocal8Bit(std::strerror(errno)); }

}  // namespace

// ---------------------------------------------------------------------------------------

class SimApp::SerialSide {
 public:
  SerialSide(SimApp& app, int baud) : app_(app), baud_(baud), in_(baud), out_(baud) {}

  ~SerialSide() { Close(); }

  bool OpenPty(QString* error) {
    termios t;
    RawTermios(t);
    cfsetspeed(&t, B115200);
    if (openpty(&fd_, &slave_fd_, nullptr, &t, nullptr) != 0) {
      *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(Errno());
      return false;
    }
    // Holding the terminal side open keeps the line usable while the tool closes and
    // reopens it; without it every read would fail once the tool lets go.
    fcntl(slave_fd_, F_SETFD, FD_CLOEXEC);
    const char* name = ttyname(slave_fd_);
    path_ = name ? QString::fromLocal8Bit(name) : QString();
    return Watch(error);
  }

  bool OpenDevice(const QString& path, QString* error) {
    path_ = path;
    fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      *error = QStringLiteral("cannot open %1: %2").arg(path, Errno());
      return false;
    }
    termios t;
    if (tcgetattr(fd_, &t) != 0) {
      *error = QStringLiteral("%1 is not a serial device: %2").arg(path, Errno());
      return false;
    }
    RawTermios(t);
    if (baud_ > 0) {
      const speed_t s = SpeedConstant(baud_);
      if (s != B0) cfsetspeed(&t, s);
    }
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
      *error = QStringLiteral("cannot set up %1: %2").arg(path, Errno());
      return false;
    }
    return Watch(error);
  }

  const QString& Path() const { return path_; }
  uint64_t NoiseBytes() const { return parser_.NoiseBytes(); }

  void Close() {
    readable_.reset();
    writable_.reset();
    if (fd_ >= 0) ::close(fd_);
    if (slave_fd_ >= 0) ::close(slave_fd_);
    fd_ = slave_fd_ = -1;
  }

 private:
  bool Watch(QString* error) {
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0 || fcntl(fd_, F_SETFD, FD_CLOEXEC) != 0) {
      *error = QStringLiteral("cannot set up %1: %2").arg(path_, Errno());
      return false;
    }
    readable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(readable_.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
    writable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    writable_->setEnabled(false);
    QObject::connect(writable_.get(), &QSocketNotifier::activated, [this] { Flush(); });
    return true;
  }

  void OnReadable() {
    uint8_t buf[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) {
        Ingest(std::span(buf, static_cast<std::size_t>(n)));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      app_.Log("serial", "error: the line is gone (" + (n == 0 ? std::string("end of file") : Errno().toStdString()) +
                             "); serial side stopped");
      readable_->setEnabled(false);
      break;
    }
    ProcessInbox();
    expire_timer_.ArmAt(parser_.Deadline(), app_.Now());
  }

  void Ingest(std::span<const uint8_t> bytes) {
    const Nanos now = app_.Now();
    const Nanos start = in_.Receive(now, bytes.size());
    const uint64_t first = parser_.Position();
    for (auto& ev : parser_.Feed(bytes, start + WireTime(baud_, bytes.size()))) {
      const Nanos due = ev.end_position >= first ? start + WireTime(baud_, ev.end_position - first + 1) : now;
      inbox_.push_back({due, std::move(ev.parsed)});
    }
  }

  void Expire() {
    const Nanos now = app_.Now();
    for (auto& ev : parser_.Expire(now)) inbox_.push_back({now, std::move(ev.parsed)});
    ProcessInbox();
    expire_timer_.ArmAt(parser_.Deadline(), now);
  }

  void ProcessInbox() {
    const Nanos now = app_.Now();
    while (!inbox_.empty() && inbox_.front().first <= now) {
      const Nanos due = inbox_.front().first;
      const Nanos ready = std::max(now, due + app_.options_.delay_ms * kMilli);
      for (Output& o : app_.device_->OnParsed(SimLink::kSerial, inbox_.front().second)) out_.Push(std::move(o), ready);
      inbox_.pop_front();
    }
    inbox_timer_.ArmAt(inbox_.empty() ? std::nullopt : std::optional(inbox_.front().first), now);
    RunOut();
  }

  void RunOut() {
    const Nanos now = app_.Now();
    const auto next = out_.Run(now, [this](const Outbox::Slice& s) {
      if (s.from == 0) app_.Log("serial", "tx " + s.item.out.label);
      const auto& b = s.item.out.bytes;
      unwritten_.append(reinterpret_cast<const char*>(b.data() + s.from), static_cast<qsizetype>(s.to - s.from));
    });
    Flush();
    out_timer_.ArmAt(next, now);
  }

  void Flush() {
    while (!unwritten_.isEmpty() && fd_ >= 0) {
      const ssize_t n = ::write(fd_, unwritten_.constData(), static_cast<std::size_t>(unwritten_.size()));
      if (n > 0) {
        unwritten_.remove(0, n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      app_.Log("serial", "error: cannot write: " + Errno().toStdString());
      app_.counts_.Add("lost-bytes", static_cast<uint64_t>(unwritten_.size()));
      unwritten_.clear();
    }
    if (unwritten_.size() > kMaxUnwritten) {
      app_.counts_.Add("lost-bytes", static_cast<uint64_t>(unwritten_.size() - kMaxUnwritten));
      unwritten_.remove(0, unwritten_.size() - kMaxUnwritten);
    }
    if (writable_) writable_->setEnabled(!unwritten_.isEmpty());
  }

  SimApp& app_;
  int baud_;
  int fd_ = -1;
  int slave_fd_ = -1;
  QString path_;
  std::unique_ptr<QSocketNotifier> readable_;
  std::unique_ptr<QSocketNotifier> writable_;
  StreamParser parser_;
  InboundLine in_;
  Outbox out_;
  std::deque<std::pair<Nanos, Parsed>> inbox_;
  FineTimer inbox_timer_{[this] { ProcessInbox(); }};
  FineTimer out_timer_{[this] { RunOut(); }};
  FineTimer expire_timer_{[this] { Expire(); }};
  QByteArray unwritten_;
};

// ---------------------------------------------------------------------------------------

class SimApp::UdpSide {
 public:
  explicit UdpSide(SimApp& app) : app_(app), out_(0) {
    QObject::connect(&socket_, &QUdpSocket::readyRead, [this] { OnReadable(); });
  }

  bool Open(const QString& address, int port, QString* error) {
    if (!socket_.bind(QHostAddress(address), static_cast<quint16>(port), QAbstractSocket::DontShareAddress)) {
      *error = QStringLiteral("cannot listen for UDP on %1:%2: %3").arg(address).arg(port).arg(socket_.errorString());
      if (port < 1024 && socket_.error() == QAbstractSocket::SocketAccessError)
        *error += QStringLiteral(" (ports below 1024 need privileges; see --udp-port)");
      return false;
    }
    return true;
  }

  QString Where() const {
    return QStringLiteral("%1:%2").arg(socket_.localAddress().toString()).arg(socket_.localPort());
  }

  void Close() { socket_.close(); }

 private:
  void OnReadable() {
    while (socket_.hasPendingDatagrams()) {
      const QNetworkDatagram d = socket_.receiveDatagram();
      if (!d.isValid()) break;
      const QByteArray data = d.data();
      const Parsed parsed = ParseDatagram(std::span(reinterpret_cast<const uint8_t*>(data.constData()),
                                                    static_cast<std::size_t>(data.size())));
      const Nanos ready = app_.Now() + app_.options_.delay_ms * kMilli;
      const Peer peer{d.senderAddress().toString().toStdString(), static_cast<uint16_t>(d.senderPort())};
      for (Output& o : app_.device_->OnParsed(SimLink::kUdp, parsed)) out_.Push(std::move(o), ready, peer);
    }
    RunOut();
  }

  void RunOut() {
    const Nanos now = app_.Now();
    const auto next = out_.Run(now, [this](const Outbox::Slice& s) {
      const auto& b = s.item.out.bytes;
      app_.Log("udp", "tx " + s.item.out.label + " to " + s.item.peer.address + ":" + std::to_string(s.item.peer.port));
      const qint64 sent = socket_.writeDatagram(reinterpret_cast<const char*>(b.data()), static_cast<qint64>(b.size()),
                                                QHostAddress(QString::fromStdString(s.item.peer.address)),
                                                s.item.peer.port);
      if (sent != static_cast<qint64>(b.size())) {
        app_.counts_.Add("lost-datagrams");
        app_.Log("udp", "error: cannot send: " + socket_.errorString().toStdString());
      }
    });
    out_timer_.ArmAt(next, now);
  }

  SimApp& app_;
  QUdpSocket socket_;
  Outbox out_;
  FineTimer out_timer_{[this] { RunOut(); }};
};

// ---------------------------------------------------------------------------------------

SimApp::SimApp(SimOptions options, std::FILE* out) : options_(std::move(options)), out_(out) { clock_.start(); }

SimApp::~SimApp() { Stop(); }

void SimApp::Log(const std::string& where, const std::string& line) {
  std::fprintf(out_, "%9.3f %s %s\n", static_cast<double>(Now()) / 1e9, where.c_str(), line.c_str());
  std::fflush(out_);
}

bool SimApp::Start(QString* error) {
  RecordStore records;
  if (!options_.device.state_path.isEmpty() && !records.Load(options_.device.state_path, error)) return false;
  device_ = std::make_unique<Device>(options_.device, records, counts_,
                                     [this](const std::string& where, const std::string& line) { Log(where, line); });

  if (options_.serial) {
    serial_ = std::make_unique<SerialSide>(*this, options_.baud);
    const bool ok = options_.serial_path.isEmpty() ? serial_->OpenPty(error)
                                                   : serial_->OpenDevice(options_.serial_path, error);
    if (!ok) return false;
    if (!options_.link_path.isEmpty()) {
      const QByteArray link = options_.link_path.toLocal8Bit();
      struct stat st;
      if (lstat(link.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
          *error = QStringLiteral("%1 exists and is not a symbolic link; it is left alone").arg(options_.link_path);
          return false;
        }
        ::unlink(link.constData());
      }
      if (::symlink(serial_->Path().toLocal8Bit().constData(), link.constData()) != 0) {
        *error = QStringLiteral("cannot make the link %1: %2").arg(options_.link_path, Errno());
        return false;
      }
      link_made_ = true;
    }
  }
  if (options_.udp) {
    udp_ = std::make_unique<UdpSide>(*this);
    if (!udp_->Open(options_.udp_address, options_.udp_port, error)) return false;
  }

  if (serial_) {
    std::fprintf(out_, "serial: %s%s\n", serial_->Path().toLocal8Bit().constData(),
                 options_.baud > 0 ? (" at " + std::to_string(options_.baud) + " baud").c_str() : "");
    if (link_made_)
      std::fprintf(out_, "link: %s -> %s\n", options_.link_path.toLocal8Bit().constData(),
                   serial_->Path().toLocal8Bit().constData());
  }
  if (udp_) std::fprintf(out_, "udp: %s\n", udp_->Where().toLocal8Bit().constData());
  std::fprintf(out_, "ready\n");
  std::fflush(out_);
  return true;
}

void SimApp::Stop() {
  if (serial_) {
    if (link_made_) {
      // Only our own link: something else may have taken the path meanwhile.
      const QByteArray link = options_.link_path.toLocal8Bit();
      char target[4096];
      const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
      if (n > 0 && QByteArray(target, static_cast<qsizetype>(n)) == serial_->Path().toLocal8Bit())
        ::unlink(link.constData());
      link_made_ = false;
    }
    serial_->Close();
  }
  if (udp_) udp_->Close();
}

void SimApp::PrintCounts() {
  Counters all = counts_;
  if (serial_ && serial_->NoiseBytes() > 0) all.Add("noise-bytes", serial_->NoiseBytes());
  std::fprintf(out_, "counts:\n");
  for (const auto& [name, value] : all.All())
    std::fprintf(out_, "  %s %llu\n", name.c_str(), static_cast<unsigned long long>(value));
  std::fflush(out_);
}

}  // namespace velmora::sim
