// The whole road of an upgrade: a page's FOTA button, the dialog and its engine, the real
// UDP endpoint or serial port, the receive pump on its own timer, the page handing the
// answers on, and a scripted device on the far side.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <functional>

#include "firmware_device.h"
#include "fota/ui/dialog_fota.h"
#include "support/gui_app_fixture.h"
#include "support/pty_pair.h"

namespace velmora {
namespace {

using test::Bytes;

const QString kAccepted = QString::fromUtf8("升级成功，等待从新启动");

// 258 full chunks and a short one: the sequence wraps, and the last frame is short.
constexpr std::size_t kImageSize = 258 * 1024 + 777;
constexpr int kDataFrames = 259;

// Sleeps in the event loop, not beside it: QTest::qWaitFor naps 10 ms between passes,
// which would make every round trip cost tens of milliseconds.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  const QDeadlineTimer deadline(timeout_ms);
  QTimer guard;  // wakes the loop to look at the deadline
  guard.start(20);
  QEventLoop loop;
  while (!done()) {
    if (deadline.hasExpired()) return false;
    loop.processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// The device runs on a thread of its own and answers the moment a frame is complete, as
// a real one does: the tool's event loop cannot hold its answers back.
class DeviceThread {
 public:
  explicit DeviceThread(std::function<void(const std::atomic<bool>& stop)> serve)
      : thread_([this, serve = std::move(serve)] { serve(stop_); }) {}
  ~DeviceThread() { Join(); }
  void Join() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class FotaEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const Bytes image = test::FirmwareImage(kImageSize);
    path_ = dir_.filePath("firmware.bin");
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
  }

  // The page's own FOTA button: it picks the link and opens the dialog.
  void PressFota(int page, Link link) {
    CMorvaneDlg& w = *app_.window;
    w.ShowPage(page);
    auto* fota = qobject_cast<QPushButton*>(FindControl(w.Page(page), 1037));
    ASSERT_NE(fota, nullptr);
    fota->click();
    ASSERT_NE(w.FirmwareDialog(), nullptr);
    ASSERT_EQ(w.FirmwareDialog()->NextLink(), link);
  }

  void RunUpgrade(DeviceThread& device) {
    CDialog_Fota* dlg = app_.window->FirmwareDialog();
    ASSERT_NE(dlg, nullptr);
    app_.modal.file_answers.push_back(path_);
    qobject_cast<QPushButton*>(FindControl(dlg, 1003))->click();
    qobject_cast<QPushButton*>(FindControl(dlg, 1019))->click();
    ASSERT_TRUE(WaitUntil([&] { return !app_.modal.messages.isEmpty(); }, 60000))
        << "no verdict";
    device.Join();  // the device's counts are read from here on
    EXPECT_EQ(app_.modal.messages, QStringList{kAccepted});
    EXPECT_TRUE(device_.faults.empty()) << device_.faults.front();
    EXPECT_EQ(device_.data_frames, kDataFrames);
    EXPECT_EQ(device_.end_frames, 1);
    EXPECT_EQ(device_.frames, kDataFrames + 1);  // no resend on a prompt line
    auto* bar = qobject_cast<QProgressBar*>(FindControl(dlg, 1040));
    EXPECT_EQ(bar->maximum(), 258);
    EXPECT_EQ(bar->value(), 258);
    EXPECT_FALSE(dlg->Watching());
    // The answers came through the page's reply handling.
    EXPECT_EQ(app_.window->StatusText(), "Successful!");
  }

  QTemporaryDir dir_;
  QString path_;
  test::AppFixture app_;
  test::FirmwareDevice device_{test::FirmwareImage(kImageSize)};
};

TEST_F(FotaEndToEnd, OverUdp) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(app_.udp_device_port);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  DeviceThread device([&](const std::atomic<bool>& stop) {
    uint8_t buf[2048];
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      const Bytes answer = test::FirmwareReply(device_.Judge(std::span(buf, static_cast<std::size_t>(n))));
      ::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  });
  ASSERT_TRUE(app_.udp.OpenEndpoint("127.0.0.1"));
  PressFota(CMorvaneDlg::kNetworkPage, Link::Udp);
  RunUpgrade(device);
  ::close(fd);
  // Firmware frames stay out of the Log pane; the device's answers are logged.
  EXPECT_FALSE(app_.LogText().contains(QString::fromUtf8("UDP发送:")));
  EXPECT_EQ(app_.LogText().count(QString::fromUtf8("UDP接收:")), kDataFrames + 1);
}

// A device that answers while the tool is still inside its reply handling: the answer
// must not be lost to the receive gate, or every such chunk waits for the resend.
TEST_F(FotaEndToEnd, OverSerial) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_TRUE(app_.serial.Open(pty.SlavePath(), 115200, 0));
  DeviceThread device([&](const std::atomic<bool>& stop) {
    Bytes pending;
    uint8_t buf[4096];
    while (!stop) {
      pollfd p{pty.MasterFd(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::read(pty.MasterFd(), buf, sizeof buf);
      if (n > 0) pending.insert(pending.end(), buf, buf + n);
      for (std::size_t size; (size = test::FirmwareDevice::FrameSize(pending)) != 0 && pending.size() >= size;) {
        const Bytes answer = test::FirmwareReply(device_.Judge(std::span(pending).first(size)));
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(size));
        if (!pty.WriteMaster(answer)) return;
      }
    }
  });
  PressFota(CMorvaneDlg::kSerialPage, Link::Serial);
  RunUpgrade(device);
  app_.serial.Close();
}

}  // namespace
}  // namespace velmora
