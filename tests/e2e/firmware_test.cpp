// Firmware upgrades through a page's FOTA button, the upgrade dialog and the real links,
// taken by the real simulator, which writes the image it accepts to a file.

#include <QProgressBar>
#include <QPushButton>

#include "e2e_harness.h"
#include "fota/ui/firmware_dialog.h"

namespace velmora {
namespace {

using test::SimAndTool;
using test::WaitUntil;

QString U(const char* s) { return QString::fromUtf8(s); }

const QString kAccepted = U("升级成功，等待从新启动");
const QString kTimedOut = U("升级超时,请重试!");
const QString kCheckFailed = U("校验错误,升级失败!");

struct Upgrade : SimAndTool {
  QString image_path;
  test::Bytes image;

  void WriteImage(int size) {
    image = test::TestImage(static_cast<std::size_t>(size));
    image_path = dir.filePath(QStringLiteral("firmware.bin"));
    ASSERT_TRUE(test::WriteBytes(image_path, image));
  }

  FirmwareDialog* Dialog() const { return window->Firmware(); }
  QPushButton* DialogButton(int id) const { return qobject_cast<QPushButton*>(FindControl(Dialog(), id)); }
  QProgressBar* Progress() const { return qobject_cast<QProgressBar*>(FindControl(Dialog(), 1040)); }

  // The page's FOTA button picks the link; the file comes through the open dialog.
  void StartUpgrade(const QWidget& page) {
    Click(page, 1037);
    ASSERT_NE(Dialog(), nullptr);
    ASSERT_TRUE(Dialog()->isVisible());
    modal.file_answers.push_back(image_path);
    DialogButton(1003)->click();
    ASSERT_EQ(qobject_cast<QLineEdit*>(FindControl(Dialog(), 1007))->text(), image_path);
    DialogButton(1019)->click();
  }

  bool WaitForVerdict(int timeout_ms) {
    return WaitUntil([&] { return !modal.messages.isEmpty(); }, std::chrono::milliseconds(timeout_ms));
  }

  test::Bytes Received() const { return test::ReadBytes(ImagePath()); }
};

struct LinkCase {
  const char* name;
  bool serial;
};
void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class UpgradeOverEachLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(UpgradeOverEachLink, A256KiBImageIsAcceptedAndArrivesByteForByte) {
  Upgrade app;
  app.StartSim();
  app.WriteImage(256 * 1024);
  QWidget* page = nullptr;
  if (GetParam().serial) {
    app.OpenSerialToSim();
    page = &app.Serial();
  } else {
    app.OpenUdpToSim();
    page = &app.Network();
  }
  app.StartUpgrade(*page);
  EXPECT_EQ(app.window->Firmware()->ActiveLink(), GetParam().serial ? Link::Serial : Link::Udp);
  ASSERT_TRUE(app.WaitForVerdict(90000)) << "stopped at chunk " << app.Progress()->value();

  EXPECT_EQ(app.modal.messages, QStringList{kAccepted});
  EXPECT_EQ(app.modal.last_buttons, MessageButtons::OkCancel);
  EXPECT_TRUE(app.Received() == app.image) << "received " << app.Received().size() << " bytes";
  EXPECT_EQ(app.Progress()->maximum(), 256);
  EXPECT_EQ(app.Progress()->value(), 256);
  EXPECT_FALSE(app.Dialog()->Transfer().Awaiting());
  // Firmware frames stay out of the log; every answer of the device is in it.
  const QString link = U(GetParam().serial ? "串口" : "UDP");
  EXPECT_EQ(app.CountLines(link + U("发送:")), 0);
  EXPECT_EQ(app.CountLines(link + U("接收:F5 00 E5 02 4F 4B ")), 256);
  EXPECT_EQ(app.CountLines(link + U("接收:F5 00 E5 03 59 45 53 ")), 1);

  const auto counts = app.sim.Stop();
  EXPECT_EQ(counts.Get("fw.chunks"), 256u);
  EXPECT_EQ(counts.Get("fw.repeats"), 0u);  // a prompt device never needs the resend
  EXPECT_EQ(counts.Get("fw.out-of-sequence"), 0u);
  EXPECT_EQ(counts.Get("fw.images-accepted"), 1u);
  EXPECT_EQ(counts.Get("malformed"), 0u);
}

INSTANTIATE_TEST_SUITE_P(E2e, UpgradeOverEachLink,
                         ::testing::Values(LinkCase{"Udp", false}, LinkCase{"SerialPty", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UpgradeFaults, ALostAnswerIsRecoveredByTheOneResend) {
  Upgrade app;
  // 12 data frames and the end frame: the device's 10th answer is lost, the 11th (to the
  // resent frame) and the rest arrive.
  app.StartSim({"--drop-every", "10"});
  app.WriteImage(12 * 1024);
  app.OpenSerialToSim();
  app.StartUpgrade(app.Serial());
  ASSERT_TRUE(app.WaitForVerdict(60000)) << "stopped at chunk " << app.Progress()->value();

  EXPECT_EQ(app.modal.messages, QStringList{kAccepted});
  EXPECT_TRUE(app.Received() == app.image);
  const auto counts = app.sim.Stop();
  EXPECT_EQ(counts.Get("dropped"), 1u);
  EXPECT_EQ(counts.Get("fw.repeats"), 1u);  // the resent frame was acknowledged, not added again
  EXPECT_EQ(counts.Get("fw.chunks"), 12u);
  EXPECT_EQ(counts.Get("rx.E5"), 14u);
  EXPECT_EQ(counts.Get("fw.images-accepted"), 1u);
}

TEST(UpgradeFaults, ASilentDeviceGetsTheFrameTwiceThenTheUpgradeTimesOut) {
  Upgrade app;
  app.StartSim({"--silent"});
  app.WriteImage(3000);
  app.OpenUdpToSim();
  app.StartUpgrade(app.Network());
  ASSERT_TRUE(app.WaitForVerdict(60000));

  EXPECT_EQ(app.modal.messages, QStringList{kTimedOut});
  EXPECT_EQ(app.modal.last_buttons, MessageButtons::Ok);
  EXPECT_FALSE(app.Dialog()->Transfer().Awaiting());
  EXPECT_FALSE(app.Dialog()->Watching());
  EXPECT_EQ(app.Progress()->value(), 1);
  EXPECT_FALSE(QFile::exists(app.ImagePath()));
  const auto counts = app.sim.Stop();
  EXPECT_EQ(counts.Get("rx.E5"), 2u);
  EXPECT_EQ(counts.Get("fw.chunks"), 1u);
  EXPECT_EQ(counts.Get("fw.repeats"), 1u);
  EXPECT_EQ(counts.Get("silenced"), 2u);
}

TEST(UpgradeFaults, ARejectedImageEndsInTheCheckError) {
  Upgrade app;
  app.StartSim({"--xerr-end"});
  app.WriteImage(5000);
  app.OpenSerialToSim();
  app.StartUpgrade(app.Serial());
  ASSERT_TRUE(app.WaitForVerdict(30000));
  EXPECT_EQ(app.modal.messages, QStringList{kCheckFailed});
  EXPECT_FALSE(app.Dialog()->Transfer().Awaiting());
  EXPECT_FALSE(QFile::exists(app.ImagePath()));
  const auto counts = app.sim.Stop();
  EXPECT_EQ(counts.Get("fw.chunks"), 5u);
  EXPECT_EQ(counts.Get("fw.images-rejected"), 1u);
}

}  // namespace
}  // namespace velmora
