#include "transport/serial_port.h"
#include "transport/serial_port_list.h"

#include <gtest/gtest.h>

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/receive_state.h"
#include "support/pty_pair.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPair;

// Everything a port has received, owned by its sink so that it lives as long as the port
// can call it.
class Recorder {
 public:
  void Put(uint8_t byte) {
    std::lock_guard lock(mutex_);
    bytes_.push_back(byte);
    cv_.notify_all();
  }
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
  }
  std::vector<uint8_t> Received() {
    std::lock_guard lock(mutex_);
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<uint8_t> bytes_;
};

SerialByteSink SinkInto(std::shared_ptr<Recorder> recorder) {
  return [recorder = std::move(recorder)](uint8_t byte) { recorder->Put(byte); };
}

class RecordingSerial : public SerialPort {
 public:
  RecordingSerial() : RecordingSerial(std::make_shared<Recorder>()) {}
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) { return recorder_->WaitFor(count, timeout); }
  std::vector<uint8_t> Received() { return recorder_->Received(); }

 private:
  explicit RecordingSerial(std::shared_ptr<Recorder> recorder)
      : SerialPort(SinkInto(recorder)), recorder_(std::move(recorder)) {}
  std::shared_ptr<Recorder> recorder_;
};

std::vector<uint8_t> Pattern(std::size_t n, unsigned seed = 7) {
  std::vector<uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * seed + i / 251) & 0xFF);
  return v;
}

// Counts every open of the watched device nodes, by anyone.
class OpenWatch {
 public:
  OpenWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
  ~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Add(const QString& path) {
    return fd_ >= 0 && ::inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN) >= 0;
  }
  int Opens() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) return opens_;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
        if (event->mask & IN_OPEN) ++opens_;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  int fd_;
  int opens_ = 0;
};

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(SerialPortName, ShortFormBelowTenDeviceNamespaceFromTen) {
  EXPECT_EQ(SerialPortList::PortName(1), QStringLiteral("COM1"));
  EXPECT_EQ(SerialPortList::PortName(3), QStringLiteral("COM3"));
  EXPECT_EQ(SerialPortList::PortName(9), QStringLiteral("COM9"));
  EXPECT_EQ(SerialPortList::PortName(10), QStringLiteral("\\\\.\\COM10"));
  EXPECT_EQ(SerialPortList::PortName(12), QStringLiteral("\\\\.\\COM12"));
  EXPECT_EQ(SerialPortList::PortName(255), QStringLiteral("\\\\.\\COM255"));
}

TEST(SerialPort, DeviceBytesReachTheSinkInOrder) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  RecordingSerial port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, 0));

  // Pieces of every size the reader has to cope with, including more than one read's worth.
  const auto data = Pattern(6000);
  std::size_t pos = 0;
  for (std::size_t piece : {1u, 2u, 17u, 1024u, 1025u, 3000u, 931u}) {
    ASSERT_TRUE(pty.WriteMaster(std::span(data).subspan(pos, piece)));
    pos += piece;
  }
  ASSERT_EQ(pos, data.size());
  ASSERT_TRUE(port.WaitFor(data.size(), 5s));
  EXPECT_EQ(port.Received(), data);
}

TEST(SerialPort, WriteSendsEveryByteInOrderAndNothingWhenClosed) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  RecordingSerial port;
  const auto data = Pattern(2500, 13);

  EXPECT_FALSE(port.Write(data.data(), data.size())) << "never opened";
  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
  EXPECT_TRUE(port.Write(data.data(), data.size()));
  EXPECT_EQ(pty.ReadMaster(data.size(), 5s), data);
  EXPECT_TRUE(port.Write(data.data(), 0));

  EXPECT_TRUE(port.Close());
  EXPECT_TRUE(port.Close()) << "a second Close does nothing";
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.Write(data.data(), data.size()));
  EXPECT_TRUE(pty.DrainMaster(100ms).empty());
}

TEST(SerialPort, OpenPortIsHeldExclusivelyAndReleasedOnClose) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  EXPECT_TRUE(SerialPortList::Exists(pty.SlavePath()));

  RecordingSerial port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_TRUE(SerialPortList::Exists(pty.SlavePath())) << "still there while held";

  RecordingSerial other;
  EXPECT_FALSE(other.Open(pty.SlavePath(), 9600, 0));
  EXPECT_FALSE(other.IsOpen());

  port.Close();
  EXPECT_TRUE(SerialPortList::Exists(pty.SlavePath()));
  EXPECT_TRUE(other.Open(pty.SlavePath(), 9600, 0));
}

TEST(SerialPort, PortLockedByAnotherProgramIsThereButCannotBeOpened) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  const int held = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

  const std::vector<uint8_t> theirs{'m', 'i', 'n', 'e'};
  ASSERT_TRUE(pty.WriteMaster(theirs));  // waiting to be read by the program holding the port

  RecordingSerial port;
  EXPECT_TRUE(SerialPortList::Exists(pty.SlavePath())) << "only opening it tells who holds it";
  EXPECT_FALSE(port.Open(pty.SlavePath(), 9600, 0));
  EXPECT_FALSE(port.IsOpen());

  std::vector<uint8_t> got(8);
  std::this_thread::sleep_for(20ms);
  const ssize_t n = ::read(held, got.data(), got.size());
  got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  EXPECT_EQ(got, theirs) << "a failed open must not flush the other program's queues";

  ::close(held);
  EXPECT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
}

TEST(SerialPort, MissingOrNonSerialDevicesFailToOpen) {
  for (const QString& name : {QStringLiteral("/dev/velmora-no-such-port"), QStringLiteral("/dev/null"), QString()}) {
    RecordingSerial port;
    EXPECT_FALSE(SerialPortList::Exists(name)) << name.toStdString();
    EXPECT_FALSE(port.Open(name, 9600, 0)) << name.toStdString();
    EXPECT_FALSE(port.IsOpen()) << name.toStdString();
    EXPECT_TRUE(port.Close());
  }
}

TEST(SerialPort, ListingAndCheckingPortsNeverOpensThem) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  // Opening a port raises DTR and RTS, which resets many boards: every device the list
  // names, and a typed path, are watched for any open while they are looked at.
  const std::vector<SerialPortEntry> listed = SerialPortList::Ports();
  OpenWatch watch;
  ASSERT_TRUE(watch.Add(pty.SlavePath()));
  QStringList names;
  for (const SerialPortEntry& entry : listed) {
    ASSERT_TRUE(watch.Add(entry.path)) << entry.path.toStdString();
    names << entry.name;
  }

  EXPECT_TRUE(SerialPortList::Exists(pty.SlavePath()));
  EXPECT_EQ(SerialPortList::Names(), names);
  for (const SerialPortEntry& entry : SerialPortList::Ports()) {
    EXPECT_TRUE(SerialPortList::Exists(entry.name)) << entry.name.toStdString();
    EXPECT_TRUE(SerialPortList::Exists(entry.path)) << entry.path.toStdString();
  }
  EXPECT_EQ(watch.Opens(), 0);

  RecordingSerial port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
  EXPECT_GT(watch.Opens(), 0) << "the watch sees an open";
}

TEST(SerialPort, LineSettingsFollowTheRequest) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  // A pseudo-terminal has no modem lines: the request to drop DTR and RTS is refused,
  // and that must not cost the open.
  int dtr = TIOCM_DTR;
  ASSERT_NE(::ioctl(pty.SlaveFd(), TIOCMBIC, &dtr), 0);

  RecordingSerial port;
  for (auto [baud, speed] : {std::pair{115200, B115200}, std::pair{9600, B9600}, std::pair{1200, B1200}}) {
    ASSERT_TRUE(port.Open(pty.SlavePath(), baud, 0)) << baud;
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed);
    EXPECT_EQ(::cfgetispeed(&t), speed);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARENB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
  }
}

TEST(SerialPort, RefusedSettingFailsTheOpenAndLeavesThePortClosedAndFree) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  RecordingSerial port;
  RecordingSerial other;
  // No baud rate; no such parity; and parity itself, which a pseudo-terminal cannot keep.
  for (auto [baud, parity] : {std::pair{0, 0}, std::pair{9600, 9}, std::pair{9600, 2}}) {
    ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0)) << "an open port is closed first";
    EXPECT_FALSE(port.Open(pty.SlavePath(), baud, parity));
    EXPECT_FALSE(port.IsOpen()) << "a failed open leaves nothing open";
    EXPECT_FALSE(port.LineLost());
    const std::vector<uint8_t> frame{0xF5, 0x80};
    EXPECT_FALSE(port.Write(frame.data(), frame.size()));
    EXPECT_TRUE(pty.DrainMaster(50ms).empty());
    EXPECT_EQ(port.Baud(), baud) << "the values asked for are kept";
    EXPECT_EQ(port.Parity(), parity);

    const std::vector<uint8_t> hello{'h', 'i'};
    ASSERT_TRUE(pty.WriteMaster(hello));
    EXPECT_FALSE(port.WaitFor(1, 200ms)) << "no reader runs";

    // The device was let go: another program can take it at once.
    EXPECT_TRUE(other.Open(pty.SlavePath(), 9600, 0));
    other.Close();
  }
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(SerialPortList::Exists(pty.SlavePath()));
  EXPECT_TRUE(port.Received().empty());
}

TEST(SerialPort, FarSideGoneWhileReadingEndsCleanly) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  RecordingSerial port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
  const std::vector<uint8_t> hello{'O', 'K'};
  ASSERT_TRUE(pty.WriteMaster(hello));
  ASSERT_TRUE(port.WaitFor(2, 2s));

  pty.CloseMaster();  // the adapter is pulled out
  std::this_thread::sleep_for(50ms);

  const auto data = Pattern(100);
  const auto write_start = Clock::now();
  EXPECT_FALSE(port.Write(data.data(), data.size()));
  EXPECT_LT(ElapsedMs(write_start), SerialPort::kChunkTimeoutMs) << "a vanished device fails at once";
  EXPECT_TRUE(port.IsOpen()) << "held until the user closes it";

  port.Close();
  EXPECT_EQ(port.StrayReaders(), 0u) << "the reader stopped within the close bound";
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Received(), hello);
}

TEST(SerialPort, FarSideGoneWhileWritePendingFailsTheWrite) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  RecordingSerial port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
  ASSERT_GT(pty.FillFromSlave(), 0u);  // the line is full: the next write has to wait

  const int master = pty.ReleaseMaster();
  std::thread unplug([master] {
    std::this_thread::sleep_for(300ms);
    ::close(master);
  });
  const auto data = Pattern(2500);
  const auto start = Clock::now();
  const bool ok = port.Write(data.data(), data.size());
  const long elapsed = ElapsedMs(start);
  unplug.join();

  EXPECT_FALSE(ok);
  EXPECT_LT(elapsed, SerialPort::kChunkTimeoutMs) << "the hang-up ends the wait, not the time-out";
  port.Close();
  EXPECT_EQ(port.StrayReaders(), 0u);
}

TEST(SerialPort, StalledLineFailsWriteWithinBoundAndDropsTheStaleBytes) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  RecordingSerial port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
  pty.StopOutput();

  const auto stale = Pattern(300);
  const auto start = Clock::now();
  EXPECT_FALSE(port.Write(stale.data(), stale.size()));
  const long bound = (1 + SerialPort::kChunkRetries) * SerialPort::kChunkTimeoutMs;
  EXPECT_LT(ElapsedMs(start), bound + 500);

  // Once the line moves again only new data goes out; the stalled frame does not burst
  // out later behind it.
  pty.StartOutput();
  const std::vector<uint8_t> fresh{0xF5, 0x80, 0xE3, 0x00, 0x58, 0x0D};
  EXPECT_TRUE(port.Write(fresh.data(), fresh.size()));
  EXPECT_EQ(pty.DrainMaster(200ms), fresh);
}

TEST(SerialPort, CloseOrDestructionStopsTheReaderDuringTraffic) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  RecordingSerial port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, 0));

  std::atomic<bool> stop{false};
  const int master = pty.MasterFd();
  std::thread device([&] {
    const auto data = Pattern(512);
    while (!stop.load()) {
      if (::write(master, data.data(), data.size()) < 0) std::this_thread::sleep_for(1ms);
    }
  });
  struct Join {
    std::atomic<bool>& stop;
    std::thread& device;
    ~Join() {
      stop = true;
      device.join();
    }
  } join{stop, device};

  ASSERT_TRUE(port.WaitFor(4096, 5s));
  port.Close();
  EXPECT_EQ(port.StrayReaders(), 0u);
  const std::size_t after_close = port.Received().size();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(port.Received().size(), after_close) << "no byte is delivered after Close";

  // A port destroyed while open stops its own reader before its sink goes.
  auto recorder = std::make_shared<Recorder>();
  {
    SerialPort dropped(SinkInto(recorder));
    ASSERT_TRUE(dropped.Open(pty.SlavePath(), 115200, 0));
    ASSERT_TRUE(recorder->WaitFor(4096, 5s));
  }
  const std::size_t after_destruction = recorder->Received().size();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(recorder->Received().size(), after_destruction) << "no byte is delivered after destruction";
}

TEST(SerialPort, FillsTheSerialReceiveStateUnderTheGate) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  ReceiveState state;
  SerialPort port(state);
  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));

  auto wait_count = [&](std::size_t n) {
    const auto deadline = Clock::now() + 3s;
    while (state.SerialCount() != n && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    return state.SerialCount() == n;
  };

  ASSERT_TRUE(pty.WriteMaster(std::vector<uint8_t>{'A', 'B'}));
  ASSERT_TRUE(wait_count(2));
  // Reopening the open port starts a new reader but keeps what was received.
  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
  ASSERT_TRUE(pty.WriteMaster(std::vector<uint8_t>{'C'}));
  ASSERT_TRUE(wait_count(3));
  EXPECT_EQ(state.SerialBuffer()[2], 'C');

  // Close the burst the way the pump does: bytes arriving with the gate closed are lost.
  ReceiveState::SerialSnapshot snap;
  for (int i = 0; i < 5 && !snap.close; ++i) snap = state.TickSerial(5, 100);
  ASSERT_TRUE(snap.close);
  EXPECT_EQ(snap.length, 3u);
  ASSERT_TRUE(pty.WriteMaster(std::vector<uint8_t>{'x', 'y', 'z'}));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(state.SerialCount(), 3u);
  state.ReopenSerial();

  ASSERT_TRUE(pty.WriteMaster(std::vector<uint8_t>{'G'}));
  ASSERT_TRUE(wait_count(1));
  EXPECT_EQ(state.SerialBuffer()[0], 'G');
}

}  // namespace
}  // namespace velmora
