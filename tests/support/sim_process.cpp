#include "support/sim_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace velmora::test {

uint64_t SimCounts::Get(const QString& name) const {
  const auto it = values.find(name);
  return it == values.end() ? 0 : it->second;
}

SimProcess::~SimProcess() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(3000)) {
    process_.kill();
    process_.waitForFinished(3000);
  }
}

QString SimProcess::Program() { return QStringLiteral(VELMORA_SIM_PATH); }

void SimProcess::Pull() {
  partial_ += process_.readAllStandardOutput();
  stderr_ += process_.readAllStandardError();
  qsizetype nl;
  while ((nl = partial_.indexOf('\n')) >= 0) {
    lines_.append(QString::fromUtf8(partial_.left(nl)));
    partial_.remove(0, nl + 1);
  }
}

bool SimProcess::Start(const QStringList& args, int timeout_ms) {
  QStringList all = args;
  const bool udp_named = std::any_of(args.begin(), args.end(), [](const QString& a) {
    return a == QLatin1String("--no-udp") || a.startsWith(QLatin1String("--udp-port"));
  });
  if (!udp_named) all << QStringLiteral("--udp-port") << QStringLiteral("0");
  if (launcher_.isEmpty()) {
    process_.setProgram(Program());
  } else {
    process_.setProgram(launcher_.first());
    all = launcher_.mid(1) + QStringList{Program()} + all;
  }
  process_.setArguments(all);
  // A test that dies must not leave a simulator behind holding its links.
  process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  process_.start();
  if (!process_.waitForStarted(timeout_ms)) {
    start_error_ = QStringLiteral("cannot start %1: %2").arg(process_.program(), process_.errorString());
    return false;
  }
  const QDeadlineTimer deadline(timeout_ms);
  const bool ready = QTest::qWaitFor(
      [&] {
        Pull();
        return lines_.contains(QStringLiteral("ready")) || process_.state() == QProcess::NotRunning;
      },
      timeout_ms);
  Pull();
  if (!ready || !lines_.contains(QStringLiteral("ready"))) {
    if (process_.state() != QProcess::NotRunning) process_.waitForFinished(static_cast<int>(deadline.remainingTime()));
    Pull();
    start_error_ = QStringLiteral("velmora-sim did not come up: %1").arg(QString::fromLocal8Bit(stderr_).trimmed());
    return false;
  }
  static const QRegularExpression serial_re(QStringLiteral("^serial: (.*?)( at \\d+ baud)?$"));
  static const QRegularExpression udp_re(QStringLiteral("^udp: (.*):(\\d+)$"));
  for (const QString& line : lines_) {
    if (const auto m = serial_re.match(line); m.hasMatch()) serial_path_ = m.captured(1);
    if (const auto m = udp_re.match(line); m.hasMatch()) {
      udp_address_ = QHostAddress(m.captured(1));
      udp_port_ = static_cast<quint16>(m.captured(2).toUInt());
    }
    if (line == QLatin1String("ready")) break;
  }
  return true;
}

QStringList SimProcess::Lines() {
  QCoreApplication::processEvents();
  Pull();
  return lines_;
}

int SimProcess::CountLines(const QString& text) {
  const QStringList all = Lines();
  return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const QString& l) { return l.contains(text); }));
}

bool SimProcess::WaitForLines(const QString& text, int count, int timeout_ms) {
  return QTest::qWaitFor([&] { return CountLines(text) >= count; }, timeout_ms);
}

void SimProcess::ForgetLines() {
  Pull();
  lines_.clear();
}

QString SimProcess::ErrorOutput() {
  Pull();
  return QString::fromLocal8Bit(stderr_);
}

SimCounts SimProcess::Stop(int timeout_ms) {
  SimCounts counts;
  if (process_.state() != QProcess::NotRunning) {
    process_.terminate();
    if (!process_.waitForFinished(timeout_ms)) {
      process_.kill();
      process_.waitForFinished(timeout_ms);
    }
  }
  Pull();
  if (!partial_.isEmpty()) {
    lines_.append(QString::fromUtf8(partial_));
    partial_.clear();
  }
  const qsizetype at = lines_.lastIndexOf(QStringLiteral("counts:"));
  if (at < 0) return counts;
  counts.complete = process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
  for (qsizetype i = at + 1; i < lines_.size(); ++i) {
    const QString& line = lines_[i];
    if (!line.startsWith(QLatin1String("  "))) break;
    const QStringList parts = line.trimmed().split(QLatin1Char(' '));
    if (parts.size() == 2) counts.values[parts[0]] = parts[1].toULongLong();
  }
  return counts;
}

// ---------------------------------------------------------------------------------------

RawSerial::~RawSerial() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawSerial::Open(const QString& path) {
  fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return false;
  termios t;
  if (tcgetattr(fd_, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool RawSerial::Write(std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::vector<uint8_t> RawSerial::Read(std::size_t n, int timeout_ms) {
  std::vector<uint8_t> out;
  const QDeadlineTimer deadline(timeout_ms);
  while (out.size() < n) {
    pollfd p{fd_, POLLIN, 0};
    const int left = static_cast<int>(deadline.remainingTime());
    if (left <= 0 || ::poll(&p, 1, left) <= 0) break;
    uint8_t buf[4096];
    const ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
    if (got <= 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

std::vector<uint8_t> RawSerial::ReadBurst(int quiet_ms, int timeout_ms) {
  std::vector<uint8_t> out;
  const QDeadlineTimer deadline(timeout_ms);
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const int left = static_cast<int>(deadline.remainingTime());
    if (left <= 0 || ::poll(&p, 1, out.empty() ? left : std::min(left, quiet_ms)) <= 0) break;
    uint8_t buf[4096];
    const ssize_t got = ::read(fd_, buf, sizeof buf);
    if (got <= 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

// ---------------------------------------------------------------------------------------

RawUdp::RawUdp() { socket_.bind(QHostAddress::LocalHost, 0); }

bool RawUdp::Send(std::span<const uint8_t> bytes, const QHostAddress& to, quint16 port) {
  const auto n = static_cast<qint64>(bytes.size());
  return socket_.writeDatagram(reinterpret_cast<const char*>(bytes.data()), n, to, port) == n;
}

std::optional<QByteArray> RawUdp::Receive(int timeout_ms) {
  if (!socket_.hasPendingDatagrams() && !socket_.waitForReadyRead(timeout_ms)) return std::nullopt;
  if (!socket_.hasPendingDatagrams()) return std::nullopt;
  QByteArray data(static_cast<qsizetype>(socket_.pendingDatagramSize()), Qt::Uninitialized);
  socket_.readDatagram(data.data(), data.size(), &last_sender_, &last_sender_port_);
  return data;
}

}  // namespace velmora::test
