#include "serial_side.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace velmora::sim {

namespace {

// Output the tool does not read piles up in the terminal; past this it is thrown away,
// as a real line would lose it.
constexpr qsizetype kMaxUnwritten = 64 * 1024;

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

SerialSide::SerialSide(LinkContext context, int baud)
    : ctx_(std::move(context)), baud_(baud), in_(baud), out_(baud) {}

SerialSide::~SerialSide() { Close(); }

bool SerialSide::OpenPty(QString* error) {
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

bool SerialSide::OpenDevice(const QString& path, QString* error) {
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

void SerialSide::Close() {
  readable_.reset();
  writable_.reset();
  if (fd_ >= 0) ::close(fd_);
  if (slave_fd_ >= 0) ::close(slave_fd_);
  fd_ = slave_fd_ = -1;
}

bool SerialSide::Watch(QString* error) {
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

void SerialSide::OnReadable() {
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      Ingest(std::span(buf, static_cast<std::size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    ctx_.log("serial", "error: the line is gone (" + (n == 0 ? std::string("end of file") : Errno().toStdString()) +
                           "); serial side stopped");
    readable_->setEnabled(false);
    break;
  }
  ProcessInbox();
  expire_timer_.ArmAt(parser_.Deadline(), ctx_.Now());
}

void SerialSide::Ingest(std::span<const uint8_t> bytes) {
  const Nanos now = ctx_.Now();
  const Nanos start = in_.Receive(now, bytes.size());
  const uint64_t first = parser_.Position();
  for (auto& ev : parser_.Feed(bytes, start + WireTime(baud_, bytes.size()))) {
    const Nanos due = ev.end_position >= first ? start + WireTime(baud_, ev.end_position - first + 1) : now;
    inbox_.push_back({due, std::move(ev.parsed)});
  }
}

void SerialSide::Expire() {
  const Nanos now = ctx_.Now();
  for (auto& ev : parser_.Expire(now)) inbox_.push_back({now, std::move(ev.parsed)});
  ProcessInbox();
  expire_timer_.ArmAt(parser_.Deadline(), now);
}

void SerialSide::ProcessInbox() {
  const Nanos now = ctx_.Now();
  while (!inbox_.empty() && inbox_.front().first <= now) {
    const Nanos due = inbox_.front().first;
    const Nanos ready = std::max(now, due + ctx_.reply_delay);
    for (Output& o : ctx_.device.OnParsed(SimLink::kSerial, inbox_.front().second, due))
      out_.Push(std::move(o), ready);
    inbox_.pop_front();
  }
  inbox_timer_.ArmAt(inbox_.empty() ? std::nullopt : std::optional(inbox_.front().first), now);
  RunOut();
}

void SerialSide::RunOut() {
  const Nanos now = ctx_.Now();
  const auto next = out_.Run(now, [this](const Outbox::Slice& s) {
    if (s.from == 0) ctx_.log("serial", "tx " + s.item.out.label);
    const auto& b = s.item.out.bytes;
    unwritten_.append(reinterpret_cast<const char*>(b.data() + s.from), static_cast<qsizetype>(s.to - s.from));
  });
  Flush();
  out_timer_.ArmAt(next, now);
}

void SerialSide::Flush() {
  while (!unwritten_.isEmpty() && fd_ >= 0) {
    const ssize_t n = ::write(fd_, unwritten_.constData(), static_cast<std::size_t>(unwritten_.size()));
    if (n > 0) {
      unwritten_.remove(0, n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    ctx_.log("serial", "error: cannot write: " + Errno().toStdString());
    ctx_.counts.Add("lost-bytes", static_cast<uint64_t>(unwritten_.size()));
    unwritten_.clear();
  }
  if (unwritten_.size() > kMaxUnwritten) {
    ctx_.counts.Add("lost-bytes", static_cast<uint64_t>(unwritten_.size() - kMaxUnwritten));
    unwritten_.remove(0, unwritten_.size() - kMaxUnwritten);
  }
  if (writable_) writable_->setEnabled(!unwritten_.isEmpty());
}

}  // namespace velmora::sim
