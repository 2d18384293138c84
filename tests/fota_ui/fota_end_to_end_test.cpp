// The whole road of an upgrade: a page's FOTA button, the dialog and its engine, the real
// UDP endpoint or serial port, the receive pump on its own timer, the page handing the
// answers on, and the simulator's device on the far side.

#include <gtest/gtest.h>

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
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device.h"
#include "fota/ui/firmware_dialog.h"
#include "support/frames.h"
#include "support/gui_app_fixture.h"
#include "support/pty_pair.h"
#include "support/wait.h"

namespace velmora {
namespace {

using test::Bytes;

const QString kAccepted = QString::fromUtf8("升级成功，等待从新启动");

// 258 full chunks and a short one: the sequence wraps, and the last frame is short.
constexpr std::size_t kImageSize = 258 * 1024 + 777;
constexpr int kDataFrames = 259;

// The simulator's device on a thread of its own, answering the moment a frame is
// complete as a real one does: the tool's event loop cannot hold its answers back.
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

sim::Nanos Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The Reply frames the device sends for one frame of the tool's. Its text bursts (the
// restart after "YES") stay out: the Log pane's count of answers below is of frames.
Bytes Answers(sim::Device& device, sim::SimLink link, const sim::Parsed& parsed) {
  Bytes out;
  for (const sim::Output& o : device.OnParsed(link, parsed, Now())) {
    if (!o.text) out.insert(out.end(), o.bytes.begin(), o.bytes.end());
  }
  return out;
}

class FotaEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.filePath("firmware.bin");
    ASSERT_TRUE(test::WriteBytes(path_, image_));
  }

  // The page's own FOTA button: it picks the link and opens the dialog.
  void PressFota(int page, Link link) {
    MainWindow& w = *app_.window;
    w.ShowPage(page);
    auto* fota = qobject_cast<QPushButton*>(FindControl(w.Page(page), 1037));
    ASSERT_NE(fota, nullptr);
    fota->click();
    ASSERT_NE(w.Firmware(), nullptr);
    ASSERT_EQ(w.Firmware()->NextLink(), link);
  }

  void RunUpgrade(DeviceThread& device) {
    FirmwareDialog* dlg = app_.window->Firmware();
    ASSERT_NE(dlg, nullptr);
    app_.modal.file_answers.push_back(path_);
    qobject_cast<QPushButton*>(FindControl(dlg, 1003))->click();
    qobject_cast<QPushButton*>(FindControl(dlg, 1019))->click();
    ASSERT_TRUE(test::WaitUntil([&] { return !app_.modal.messages.isEmpty(); }, std::chrono::seconds(60)))
        << "no verdict";
    device.Join();  // the device's counts are read from here on
    EXPECT_EQ(app_.modal.messages, QStringList{kAccepted});
    // Every frame well formed, in sequence and taken once; the image whole and unchanged.
    EXPECT_EQ(counts_.Get("malformed"), 0u);
    EXPECT_EQ(counts_.Get("fw.out-of-sequence"), 0u);
    EXPECT_EQ(counts_.Get("fw.images-rejected"), 0u);
    EXPECT_TRUE(device_.Firmware().AcceptedImage() == image_);
    EXPECT_EQ(counts_.Get("fw.chunks"), static_cast<uint64_t>(kDataFrames));
    EXPECT_EQ(counts_.Get("fw.images-accepted"), 1u);
    EXPECT_EQ(counts_.Get("rx.E5"), static_cast<uint64_t>(kDataFrames + 1));  // no resend on a prompt line
    EXPECT_EQ(counts_.Get("fw.repeats"), 0u);
    // One log line per frame: full chunks, the short one last, then the end frame.
    ASSERT_EQ(frames_.size(), static_cast<std::size_t>(kDataFrames + 1));
    for (int i = 0; i < kDataFrames - 1; ++i) {
      EXPECT_NE(frames_[i].find(" len 1024: "), std::string::npos) << frames_[i];
    }
    EXPECT_NE(frames_[kDataFrames - 1].find(" len 777: "), std::string::npos) << frames_[kDataFrames - 1];
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
  const Bytes image_ = test::TestImage(kImageSize);
  sim::Counters counts_;
  std::vector<std::string> frames_;  // the device's log, written on its thread
  sim::Device device_{{}, {}, counts_,
                      [this](const std::string&, const std::string& line) { frames_.push_back(line); }};
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
      const Bytes answer =
          Answers(device_, sim::SimLink::kUdp, sim::ParseDatagram(std::span(buf, static_cast<std::size_t>(n))));
      if (!answer.empty()) ::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  });
  ASSERT_TRUE(app_.udp.OpenEndpoint("127.0.0.1"));
  PressFota(MainWindow::kNetworkPage, Link::Udp);
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
    sim::StreamParser parser;
    uint8_t buf[4096];
    while (!stop) {
      pollfd p{pty.MasterFd(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::read(pty.MasterFd(), buf, sizeof buf);
      if (n <= 0) continue;
      for (const auto& ev : parser.Feed(std::span(buf, static_cast<std::size_t>(n)), Now())) {
        if (!pty.WriteMaster(Answers(device_, sim::SimLink::kSerial, ev.parsed))) return;
      }
    }
  });
  PressFota(MainWindow::kSerialPage, Link::Serial);
  RunUpgrade(device);
  app_.serial.Close();
}

}  // namespace
}  // namespace velmora
