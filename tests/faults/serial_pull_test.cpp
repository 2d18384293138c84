// The serial adapter pulled out under a configuration command: the page answers within
// the write bound, says what happened, and the port can be opened again.

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>
#include <thread>

#include <unistd.h>

#include "config/config_defaults.h"
#include "mqtt/ui/mqtt_page.h"
#include "pages/page_harness.h"
#include "support/sim_process.h"

namespace velmora {
namespace {

using test::Bytes;
using test::PageHarness;
using test::PtyPair;
using test::Reply;
using test::SimProcess;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

QString U(const char* s) { return QString::fromUtf8(s); }

const QString kPulled = U("[COM]: 串口已断开,发送失败,已关闭串口.");
const QString kNotSent = U("[COM]: 串口发送失败,数据未发出.");
const Bytes kReadConfigFrame{0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D};

// Longest a command may hold the window on a line that does not move.
constexpr auto kWriteBound = std::chrono::milliseconds((1 + SerialPort::kChunkRetries) * SerialPort::kChunkTimeoutMs);

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

struct SerialPull : PageHarness {
  SerialPage& page = Serial();

  // Clicks a command button and returns how long the window was held.
  long long TimedClick(int id) {
    const auto start = Clock::now();
    Click(page, id);
    return MsSince(start);
  }

  void ExpectClosedRow() {
    EXPECT_FALSE(serial.IsOpen());
    EXPECT_EQ(Button(page, 1003)->text(), U("打开"));
    for (int id : {1000, 1001, 1002, 1039}) EXPECT_TRUE(Ctl(page, id)->isEnabled()) << id;
  }

  // A configuration read on the line now open, answered by the test as the device.
  void ExpectReadRoundTrip(PtyPair& device) {
    Click(page, 1034);
    ASSERT_EQ(device.ReadMaster(kReadConfigFrame.size(), 3s), kReadConfigFrame);
    ConfigForm form = DefaultConfigForm();
    form.eth_port = "7001";
    const ConfigRecord record = EncodeConfig(form);
    ASSERT_TRUE(device.WriteMaster(Reply(0xE2, Bytes(record.begin(), record.end()))));
    ASSERT_TRUE(WaitForStatus("Successful!"));
    EXPECT_EQ(Edit(page, 1018)->text(), "7001");
  }
};

TEST(SerialPull, ConfigurationWriteAfterThePullFailsAtOnceClosesTheRowAndThePortReopens) {
  SerialPull app;
  auto pty = std::make_unique<PtyPair>();
  ASSERT_TRUE(pty->Ok());
  app.OpenSerialOn(*pty);
  app.Type(app.page, 1026, U("心跳"));

  pty->CloseMaster();
  EXPECT_LT(app.TimedClick(1033), SerialPort::kChunkTimeoutMs) << "a vanished device fails at once";

  const QStringList lines = app.LogLines();
  ASSERT_GE(lines.size(), 2);
  EXPECT_TRUE(lines[lines.size() - 2].startsWith(U("串口发送:F5 80 E1 DD "))) << lines.join('|').toStdString();
  EXPECT_EQ(lines.back(), kPulled);
  EXPECT_EQ(app.window->StatusText(), "....");
  EXPECT_TRUE(app.modal.messages.isEmpty());
  app.ExpectClosedRow();
  EXPECT_EQ(app.Edit(app.page, 1026)->text(), U("心跳")) << "the form is kept for the next try";

  // A command now goes nowhere, as with any closed port, and says nothing more.
  app.Click(app.page, 1035);
  EXPECT_EQ(app.LogLines().back(), U("串口发送:F5 80 E3 00 58 0D "));

  // The adapter plugged in again (here under a new name).
  auto again = std::make_unique<PtyPair>();
  ASSERT_TRUE(again->Ok());
  app.OpenSerialOn(*again);
  EXPECT_EQ(app.LogLines().back(), U("[COM]: 打开串口成功."));
  app.ExpectReadRoundTrip(*again);
  EXPECT_EQ(app.Edit(app.page, 1026)->text(), U("心跳")) << "a record without a heartbeat keeps the box";
}

TEST(SerialPull, PullWhileTheWriteWaitsOnAFullLineEndsTheWaitNotTheBound) {
  SerialPull app;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  app.OpenSerialOn(pty);
  pty.StopOutput();  // the line does not move: the next frame has to wait

  const int master = pty.ReleaseMaster();
  std::thread unplug([master] {
    std::this_thread::sleep_for(300ms);
    ::close(master);
  });
  const long long held = app.TimedClick(1033);
  unplug.join();

  EXPECT_GE(held, 250) << "the write did wait for the line";
  EXPECT_LT(held, 1500) << "the hang-up ends the wait, well before the write gives up";
  EXPECT_EQ(app.LogLines().back(), kPulled);
  app.ExpectClosedRow();

  PtyPair again;
  ASSERT_TRUE(again.Ok());
  app.OpenSerialOn(again);
  app.ExpectReadRoundTrip(again);
}

TEST(SerialPull, StalledLineThatIsStillThereSaysTheFrameDidNotGoAndStaysOpen) {
  SerialPull app;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  app.OpenSerialOn(pty);
  pty.StopOutput();

  EXPECT_LT(app.TimedClick(1033), kWriteBound.count() + 500);
  EXPECT_EQ(app.LogLines().back(), kNotSent);
  EXPECT_TRUE(app.serial.IsOpen());
  EXPECT_EQ(app.Button(app.page, 1003)->text(), U("关闭"));

  // Moving again, the next command goes out alone: the stalled frame is not sent late.
  pty.StartOutput();
  app.ExpectReadRoundTrip(pty);
  EXPECT_TRUE(pty.DrainMaster(100ms).empty());
}

TEST(SerialPull, AdapterBackUnderTheSameNameOpensAgainFromTheSameRow) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString link = dir.filePath("ttyVELMORA");
  const QStringList args{"--no-udp", "--link", link, "--version", "FW-1.0"};
  auto device = std::make_unique<SimProcess>();
  ASSERT_TRUE(device->Start(args)) << device->StartError().toStdString();

  SerialPull app;
  app.TypeInList(app.page, 1000, link);
  app.Click(app.page, 1003);
  ASSERT_TRUE(app.serial.IsOpen());
  app.Click(app.page, 1035);
  ASSERT_TRUE(app.WaitForStatus("Successful!"));
  EXPECT_EQ(app.LogLines().back(), "FW-1.0");

  device->Stop();  // the far end hangs up
  device.reset();
  EXPECT_LT(app.TimedClick(1035), SerialPort::kChunkTimeoutMs);
  EXPECT_EQ(app.LogLines().back(), kPulled);
  app.ExpectClosedRow();
  EXPECT_EQ(app.Combo(app.page, 1000)->currentText(), link) << "the row still names the port";

  device = std::make_unique<SimProcess>();
  ASSERT_TRUE(device->Start(args)) << device->StartError().toStdString();
  app.Click(app.page, 1003);
  ASSERT_TRUE(app.serial.IsOpen());
  app.window->SetStatusText({});
  app.Click(app.page, 1035);
  ASSERT_TRUE(app.WaitForStatus("Successful!"));
  EXPECT_EQ(app.LogLines().back(), "FW-1.0");
}

// Adapters coming and going in a watched folder, played by links to pseudo-terminals: the
// list follows them with no refresh, an open port whose adapter goes (its link removed,
// or the far end hanging up with nothing being written) is closed, and the same name
// coming back is opened again with the same settings. One Log line each way.
TEST(SerialPull, WatchedFolderListsAdaptersAndReopensTheOneThatComesBack) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString link = QDir::cleanPath(QFileInfo(dir.filePath("ttyUSB-adapter-with-a-long-name")).absoluteFilePath());
  const QString removed = U("[COM]: 串口设备已移除:") + link;
  const QString reopened = U("[COM]: 串口设备已重新连接,已重新打开:") + link;

  SerialPull app;
  QComboBox* ports = app.Combo(app.page, 1000);
  app.page.SetPortFolders({dir.path()});
  EXPECT_EQ(ports->findText(link), -1);
  auto plug = [&](const PtyPair& pty) {
    EXPECT_TRUE(QFile::link(pty.SlavePath(), link));
    return test::WaitUntil([&] { return ports->findText(link) >= 0; });
  };

  auto first = std::make_unique<PtyPair>();
  ASSERT_TRUE(first->Ok());
  ASSERT_TRUE(plug(*first)) << "listed without pressing refresh";
  const int item = ports->findText(link);
  EXPECT_EQ(ports->itemData(item, Qt::ToolTipRole).toString(), link) << "the whole path, uncut";
  app.Choose(app.page, 1000, link);
  EXPECT_EQ(ports->toolTip(), link);
  app.Choose(app.page, 1001, "9600");
  app.Choose(app.page, 1002, "ODD");
  app.Click(app.page, 1003);
  ASSERT_TRUE(app.serial.IsOpen()) << app.LogLines().join('|').toStdString();
  app.ExpectReadRoundTrip(*first);

  // Pulled: the link goes.
  ASSERT_TRUE(QFile::remove(link));
  ASSERT_TRUE(test::WaitUntil([&] { return !app.serial.IsOpen(); }));
  EXPECT_EQ(app.LogLines().back(), removed);
  app.ExpectClosedRow();
  EXPECT_TRUE(test::WaitUntil([&] { return ports->findText(link) < 0; })) << "gone from the list";
  EXPECT_EQ(ports->currentText(), link) << "the row still names the port";

  // Back under the same name: opened again, as it was set.
  auto second = std::make_unique<PtyPair>();
  ASSERT_TRUE(second->Ok());
  ASSERT_TRUE(plug(*second));
  ASSERT_TRUE(test::WaitUntil([&] { return app.serial.IsOpen(); }));
  EXPECT_EQ(app.LogLines().back(), reopened);
  EXPECT_EQ(app.serial.Port(), link);
  EXPECT_EQ(app.serial.Baud(), 9600);
  EXPECT_EQ(app.serial.Parity(), 1);
  EXPECT_EQ(app.Button(app.page, 1003)->text(), U("关闭"));
  for (int id : {1000, 1001, 1002, 1039}) EXPECT_FALSE(app.Ctl(app.page, id)->isEnabled()) << id;
  app.window->SetStatusText({});
  app.ExpectReadRoundTrip(*second);

  // The far end hangs up with nothing being written; the dead line's link stays until the
  // adapter really comes back, and is not opened meanwhile.
  second->CloseMaster();
  ASSERT_TRUE(test::WaitUntil([&] { return !app.serial.IsOpen(); }));
  EXPECT_EQ(app.LogLines().back(), removed);
  app.page.SetPortFolders({dir.path()});  // a look at the folder as a change would cause
  EXPECT_FALSE(app.serial.IsOpen());
  ASSERT_TRUE(QFile::remove(link));
  auto third = std::make_unique<PtyPair>();
  ASSERT_TRUE(third->Ok());
  ASSERT_TRUE(plug(*third));
  ASSERT_TRUE(test::WaitUntil([&] { return app.serial.IsOpen(); }));
  app.window->SetStatusText({});
  app.ExpectReadRoundTrip(*third);
  EXPECT_EQ(app.CountLines(removed), 2);
  EXPECT_EQ(app.CountLines(reopened), 2);

  // Closed by the engineer, a port is never opened behind their back.
  app.Click(app.page, 1003);
  ASSERT_FALSE(app.serial.IsOpen());
  ASSERT_TRUE(QFile::remove(link));
  auto fourth = std::make_unique<PtyPair>();
  ASSERT_TRUE(fourth->Ok());
  ASSERT_TRUE(plug(*fourth));
  EXPECT_FALSE(app.serial.IsOpen());
  EXPECT_EQ(app.CountLines(reopened), 2);
}

TEST(SerialPull, MqttWriteAfterThePullSaysSoAndClosesTheSerialRow) {
  SerialPull app;
  auto pty = std::make_unique<PtyPair>();
  ASSERT_TRUE(pty->Ok());
  app.OpenSerialOn(*pty);
  auto& mqtt = *qobject_cast<MqttPage*>(app.window->Page(MainWindow::kMqttPage));
  app.window->ShowPage(MainWindow::kMqttPage);

  pty->CloseMaster();
  const auto start = Clock::now();
  app.Click(mqtt, 1019);
  EXPECT_LT(MsSince(start), SerialPort::kChunkTimeoutMs) << "a vanished device fails at once";

  const QStringList lines = app.LogLines();
  ASSERT_GE(lines.size(), 2);
  EXPECT_TRUE(lines[lines.size() - 2].startsWith(U("串口发送:F5 80 E6 81 "))) << lines.join('|').toStdString();
  EXPECT_EQ(lines.back(), kPulled);
  app.ExpectClosedRow();

  // With the serial port closed, the page's next send goes over UDP, as it always does.
  app.Click(mqtt, 1020);
  EXPECT_TRUE(app.LogLines().back().startsWith(U("UDP发送:F5 80 E7 00 "))) << app.LogLines().back().toStdString();
}

}  // namespace
}  // namespace velmora
