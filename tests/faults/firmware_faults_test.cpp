// Firmware uploads to the simulated device that go wrong: the image file changed, deleted
// or replaced under the transfer, the device refusing the image, the serial adapter
// pulled out. Each ends in one clear message, and only a good image is ever "accepted".

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

#include "fota/ui/firmware_dialog.h"
#include "pages/page_harness.h"
#include "support/sim_process.h"

namespace velmora {
namespace {

using test::Bytes;
using test::PageHarness;
using test::ReadBytes;
using test::SimProcess;
using test::TestImage;
using test::WaitUntil;
using test::WriteBytes;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

QString U(const char* s) { return QString::fromUtf8(s); }

const QString kAccepted = U("升级成功，等待从新启动");
const QString kCheckFailed = U("校验错误,升级失败!");
const QString kFileChanged = U("固件文件在升级过程中被改动,升级已停止!");
const QString kSerialLost = U("串口已断开,升级已停止!");

// Big enough that the tests can act while it is on its way.
constexpr std::size_t kImageSize = 300 * 1024 + 123;

struct Upload : PageHarness {
  QTemporaryDir dir;
  std::unique_ptr<SimProcess> device;
  QString accepted_path;  // where the device keeps an image it accepted
  QString firmware_path;
  Bytes image = TestImage(kImageSize, 1);

  Upload() {
    EXPECT_TRUE(dir.isValid());
    accepted_path = dir.filePath("accepted.bin");
    firmware_path = dir.filePath("firmware.bin");
    EXPECT_TRUE(WriteBytes(firmware_path, image));
  }

  // The device on loopback UDP, where the tool's endpoint sends.
  void StartDeviceOnUdp(QStringList extra = {}) {
    device = std::make_unique<SimProcess>();
    ASSERT_TRUE(device->Start(QStringList{"--no-serial", "--udp-port", QString::number(udp_device_port),
                                          "--image-out", accepted_path} +
                              extra))
        << device->StartError().toStdString();
    OpenNetworkOnLoopback();
  }

  // The device behind a serial port named `link`, opened on the serial page.
  void StartDeviceOnSerial(const QString& link) {
    device = std::make_unique<SimProcess>();
    ASSERT_TRUE(device->Start(QStringList{"--no-udp", "--link", link, "--image-out", accepted_path}))
        << device->StartError().toStdString();
  }
  void OpenSerialAt(const QString& link) {
    TypeInList(Serial(), 1000, link);
    Click(Serial(), 1003);
    ASSERT_TRUE(serial.IsOpen());
  }

  FirmwareDialog* Dialog() const { return window->Firmware(); }
  template <class T = QWidget>
  T* DialogControl(int id) const {
    return qobject_cast<T*>(FindControl(Dialog(), id));
  }
  void PressFota(const QWidget& page) {
    Click(page, 1037);
    ASSERT_NE(Dialog(), nullptr);
  }
  void Choose(const QString& path) {
    modal.file_answers.push_back(path);
    DialogControl<QPushButton>(1003)->click();
  }
  void StartUpgrade() { DialogControl<QPushButton>(1019)->click(); }
  int Progress() const { return DialogControl<QProgressBar>(1040)->value(); }

  // Waits until `frames` data frames were acknowledged, with the upload still running.
  void WaitForProgress(int frames) {
    ASSERT_TRUE(WaitUntil([&] { return Progress() >= frames || !modal.messages.isEmpty(); }, 30s));
    ASSERT_TRUE(modal.messages.isEmpty()) << modal.messages.join('|').toStdString();
    ASSERT_TRUE(Dialog()->Transfer().Awaiting());
    ASSERT_LT(Progress(), DialogControl<QProgressBar>(1040)->maximum() - 10) << "too late to act midway";
  }
  bool WaitForVerdict(std::chrono::milliseconds timeout = 60s) {
    return WaitUntil([&] { return !modal.messages.isEmpty(); }, timeout);
  }

  // After the verdict: nothing more is sent, the file is let go, and a late answer
  // changes nothing.
  void ExpectEnded() {
    EXPECT_FALSE(Dialog()->Transfer().Awaiting());
    EXPECT_FALSE(Dialog()->Transfer().IsOpen());
    QTest::qWait(100);
    EXPECT_EQ(modal.messages.size(), 1) << modal.messages.join('|').toStdString();
  }
  // The device's counts after it was stopped.
  test::SimCounts StopDevice() {
    test::SimCounts c = device->Stop();
    EXPECT_TRUE(c.complete);
    return c;
  }
};

// Something done to the firmware file while 20 chunks of it are on the way over UDP.
struct Change {
  const char* name;
  std::function<bool(const QString&)> apply;
};

// Uploads until the 20th chunk, applies the change, and waits for the dialog's verdict.
void ChangeDuringUpload(Upload& app, const Change& change) {
  app.StartDeviceOnUdp();
  app.PressFota(app.Network());
  app.Choose(app.firmware_path);
  app.StartUpgrade();
  app.WaitForProgress(20);
  ASSERT_TRUE(change.apply(app.firmware_path));
  ASSERT_TRUE(app.WaitForVerdict());
}

TEST(FirmwareFile, ShrunkOrRewrittenUnderTheUploadEndsItAndTheDeviceAcceptsNothing) {
  const Change changes[] = {
      {"truncated", [](const QString& p) { return QFile::resize(p, 100 * 1024); }},
      {"rewritten in place, same size",
       [](const QString& p) { return WriteBytes(p, TestImage(kImageSize, 2), QIODevice::ReadWrite); }},
      {"grown", [](const QString& p) { return WriteBytes(p, TestImage(4096, 3), QIODevice::Append); }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    Upload app;
    ChangeDuringUpload(app, change);
    if (::testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(app.modal.messages, QStringList{kFileChanged});
    app.ExpectEnded();
    const test::SimCounts counts = app.StopDevice();
    EXPECT_EQ(counts.Get("fw.images-accepted"), 0u);
    EXPECT_FALSE(QFile::exists(app.accepted_path));
  }
}

TEST(FirmwareFile, DeletedOrReplacedByANewFileUnderTheUploadStillSendsTheImageItStarted) {
  const Change changes[] = {
      {"deleted", [](const QString& p) { return QFile::remove(p); }},
      {"replaced by a new file, as a build writes it",
       [](const QString& p) {
         const QString fresh = p + ".new";
         return WriteBytes(fresh, TestImage(50 * 1024, 4)) && std::rename(qPrintable(fresh), qPrintable(p)) == 0;
       }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    Upload app;
    ChangeDuringUpload(app, change);
    if (::testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(app.modal.messages, QStringList{kAccepted});
    app.ExpectEnded();
    app.StopDevice();
    EXPECT_EQ(ReadBytes(app.accepted_path), app.image) << "the whole image that was started, nothing mixed";
  }
}

TEST(FirmwareFile, ReplacedBetweenChoosingAndStartingSendsTheNewFileAndShowsIt) {
  Upload app;
  app.StartDeviceOnUdp();
  app.PressFota(app.Network());
  app.Choose(app.firmware_path);
  EXPECT_EQ(app.DialogControl<QLabel>(1042)->text(), "307.323 kb");

  const Bytes rebuilt = TestImage(20000, 5);
  ASSERT_TRUE(WriteBytes(app.firmware_path, rebuilt, QIODevice::WriteOnly | QIODevice::Truncate));
  app.StartUpgrade();
  EXPECT_EQ(app.DialogControl<QLabel>(1042)->text(), "20.000 kb") << "the labels show the file really sent";
  ASSERT_TRUE(app.WaitForVerdict());
  EXPECT_EQ(app.modal.messages, QStringList{kAccepted});
  app.StopDevice();
  EXPECT_EQ(ReadBytes(app.accepted_path), rebuilt);
}

TEST(FirmwareFile, DeviceRefusingTheImageIsNeverShownAsSuccess) {
  Upload app;
  app.StartDeviceOnUdp({"--xerr-end"});
  app.PressFota(app.Network());
  app.Choose(app.firmware_path);
  app.StartUpgrade();
  ASSERT_TRUE(app.WaitForVerdict());
  EXPECT_EQ(app.modal.messages, QStringList{kCheckFailed});
  app.ExpectEnded();
  EXPECT_EQ(app.StopDevice().Get("fw.images-rejected"), 1u);
}

TEST(FirmwareSerialPull, AdapterPulledMidwayEndsTheUploadAtOnceAndTheNextOneWorks) {
  Upload app;
  const QString link = app.dir.filePath("ttyFOTA");
  app.StartDeviceOnSerial(link);
  app.OpenSerialAt(link);
  app.PressFota(app.Serial());
  app.Choose(app.firmware_path);
  app.StartUpgrade();
  app.WaitForProgress(20);

  const auto pulled = Clock::now();
  app.device->Stop();  // the far end goes away with its line
  ASSERT_TRUE(app.WaitForVerdict(10s));
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pulled);
  EXPECT_EQ(app.modal.messages, QStringList{kSerialLost});
  EXPECT_LT(waited.count(), 2000) << "ended by the pull, not by the resend and time-out";
  app.ExpectEnded();
  EXPECT_FALSE(app.Dialog()->Watching());
  EXPECT_FALSE(QFile::exists(app.accepted_path));

  // The engineer closes the port, plugs the adapter back in, opens it and tries again.
  app.Click(app.Serial(), 1003);
  EXPECT_FALSE(app.serial.IsOpen());
  app.StartDeviceOnSerial(link);
  app.Click(app.Serial(), 1003);
  ASSERT_TRUE(app.serial.IsOpen());
  app.modal.messages.clear();
  app.StartUpgrade();
  ASSERT_TRUE(app.WaitForVerdict());
  EXPECT_EQ(app.modal.messages, QStringList{kAccepted});
  app.StopDevice();
  EXPECT_EQ(ReadBytes(app.accepted_path), app.image);
}

TEST(FirmwareSerialPull, PortClosedBeforeTheUploadStillTimesOutAsBefore) {
  // Not a pull: the engineer never opened the port. Nothing can go out, and the upload
  // ends after the resend and the time-out, as it always has.
  Upload app;
  app.PressFota(app.Serial());
  app.Choose(app.firmware_path);
  const auto start = Clock::now();
  app.StartUpgrade();
  ASSERT_TRUE(app.WaitForVerdict(20s));
  EXPECT_EQ(app.modal.messages, QStringList{U("升级超时,请重试!")});
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 5500);
}

TEST(FirmwareReplies, TypingInTheFormDuringAnUploadIsKept) {
  Upload app;
  app.StartDeviceOnUdp();
  app.PressFota(app.Network());
  app.Choose(app.firmware_path);
  app.StartUpgrade();
  app.WaitForProgress(5);

  // Back on the main window, typing while the device's answers stream in.
  app.window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(app.window.get()));
  app.Show(app.Network());
  LineEdit* box = app.Edit(app.Network(), 1026);
  box->setFocus(Qt::MouseFocusReason);
  box->clear();
  ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == box; }));
  const QString note = U("心跳包ABC");
  for (const QChar c : note) {
    test::TypeText(QApplication::focusWidget(), QString(c));
    QTest::qWait(15);
  }
  ASSERT_TRUE(app.WaitForVerdict());
  EXPECT_EQ(app.modal.messages, QStringList{kAccepted});
  EXPECT_EQ(box->text().toStdString(), note.toStdString());
  EXPECT_EQ(QApplication::focusWidget(), box);
}

}  // namespace
}  // namespace velmora
