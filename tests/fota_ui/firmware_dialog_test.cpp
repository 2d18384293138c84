#include "fota/ui/firmware_dialog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "widgets/dialog_builder.h"
#include "support/frames.h"
#include "support/gui_app_fixture.h"
#include "support/fake_modal_ui.h"

namespace velmora {
namespace {

using test::Bytes;
using test::FirmwareReply;

const QString kEmptyPath = QString::fromUtf8("打开文件的路径不正确,或不能为空！");
const QString kCheckFailed = QString::fromUtf8("校验错误,升级失败!");
const QString kAccepted = QString::fromUtf8("升级成功，等待从新启动");
const QString kTimedOut = QString::fromUtf8("升级超时,请重试!");
const QString kStopped = QString::fromUtf8("停止下载程序成功！");

QString MakeFile(const QTemporaryDir& dir, const QString& name, std::size_t size) {
  const QString path = dir.filePath(name);
  EXPECT_TRUE(test::WriteBytes(path, test::TestImage(size)));
  return path;
}

class FotaDialogTest : public ::testing::Test {
 protected:
  FotaDialogTest() { dlg_.SetLink(Link::Udp); }
  QWidget* Control(int id) const { return FindControl(&dlg_, id); }
  QString Text(int id) const { return qobject_cast<QLabel*>(Control(id))->text(); }
  QLineEdit* Path() const { return qobject_cast<QLineEdit*>(Control(1007)); }
  QProgressBar* Bar() const { return qobject_cast<QProgressBar*>(Control(1040)); }
  void Click(int id) { qobject_cast<QPushButton*>(Control(id))->click(); }
  void Choose(const QString& path) {
    modal_.file_answers.push_back(path);
    Click(1003);
  }
  // Handed on as a page does, then the event loop runs once: the reply is acted on only
  // after the page's handling has returned, so nothing is sent from inside it.
  void Reply(const std::string& text) {
    const auto before = udp_sent_.size();
    {
      const Bytes b = FirmwareReply(text);
      dlg_.HandleFirmwareReply(ReplyFrame{Link::Udp, b});
    }
    EXPECT_EQ(udp_sent_.size(), before);
    QCoreApplication::sendPostedEvents(&dlg_, QEvent::MetaCall);
  }

  QTemporaryDir dir_;
  test::FakeModalUi modal_;
  std::vector<Bytes> serial_sent_;
  std::vector<Bytes> udp_sent_;
  FirmwareDialog dlg_{[this](std::span<const uint8_t> f) { serial_sent_.emplace_back(f.begin(), f.end()); },
                    [this](std::span<const uint8_t> f) { udp_sent_.emplace_back(f.begin(), f.end()); }, modal_};
};

TEST_F(FotaDialogTest, CaptionsAndStartingState) {
  EXPECT_EQ(dlg_.windowTitle(), QString::fromUtf8("FOTA在线升级系统:"));
  EXPECT_EQ(qobject_cast<QPushButton*>(Control(1003))->text(), QString::fromUtf8("打开"));
  EXPECT_EQ(qobject_cast<QPushButton*>(Control(1019))->text(), QString::fromUtf8("APP升级"));
  EXPECT_EQ(qobject_cast<QPushButton*>(Control(1022))->text(), QString::fromUtf8("STOP升级"));
  ASSERT_NE(Path(), nullptr);
  EXPECT_FALSE(Path()->isReadOnly());
  ASSERT_NE(Bar(), nullptr);
  EXPECT_EQ(Bar()->value(), 0);
  EXPECT_TRUE(Text(1041).isEmpty());
  EXPECT_TRUE(Text(1042).isEmpty());
  QStringList groups;
  for (auto* g : dlg_.findChildren<QGroupBox*>()) groups << g->title();
  groups.sort();
  QStringList expected = QString::fromUtf8("打开文件:|文件信息:|烧录控制:|烧录进度:").split('|');
  expected.sort();
  EXPECT_EQ(groups, expected);
  EXPECT_FALSE(dlg_.isModal());
  EXPECT_FALSE(dlg_.Watching());
}

TEST_F(FotaDialogTest, ChoosingAFileFillsTheLabelsAndTheProgressRange) {
  const QString mib = MakeFile(dir_, "app.bin", 1 << 20);
  Choose(mib);
  ASSERT_EQ(modal_.open_filters.size(), 1);
  EXPECT_EQ(modal_.open_filters[0], "Data Files(*.bin);;All Files (*.*)");
  EXPECT_EQ(Path()->text(), QDir::toNativeSeparators(mib));
  EXPECT_EQ(Text(1041), "app.bin");
  EXPECT_EQ(Text(1042), "1048.576 kb");
  EXPECT_EQ(Bar()->minimum(), 0);
  EXPECT_EQ(Bar()->maximum(), 1024);
  EXPECT_EQ(Bar()->value(), 0);

  Choose(MakeFile(dir_, "b.bin", 102400));
  EXPECT_EQ(Text(1041), "b.bin");
  EXPECT_EQ(Text(1042), "102.400 kb");
  EXPECT_EQ(Bar()->maximum(), 100);

  // Cancelled: nothing changes.
  Choose(QString());
  EXPECT_EQ(Text(1041), "b.bin");
  EXPECT_TRUE(Path()->text().endsWith("b.bin"));
  EXPECT_TRUE(modal_.messages.isEmpty());

  // Under 1 KiB the range is 0: the bar still has one step (not a busy bar), and the
  // only frame fills it.
  Choose(MakeFile(dir_, "tiny.bin", 500));
  EXPECT_EQ(Text(1042), "0.500 kb");
  EXPECT_EQ(Bar()->maximum(), 1);
  EXPECT_EQ(Bar()->value(), 0);
  Click(1019);
  EXPECT_EQ(Bar()->value(), 1);
  EXPECT_EQ(udp_sent_.size(), 1u);

  // A path that cannot be opened leaves nothing of an earlier file on show, chosen or typed.
  Choose(dir_.filePath("missing.bin"));
  EXPECT_EQ(Text(1041), "");
  EXPECT_EQ(Text(1042), "");
  Choose(MakeFile(dir_, "c.bin", 3000));
  ASSERT_EQ(Text(1041), "c.bin");
  Path()->setText(dir_.filePath("gone.bin"));
  Click(1019);
  EXPECT_EQ(Text(1041), "");
  EXPECT_EQ(Text(1042), "");
}

TEST_F(FotaDialogTest, TransferStepsTheBarAndEndsWithTheVerdict) {
  // 2500 bytes: range 2, three data frames; the bar stops at its end.
  Choose(MakeFile(dir_, "fw.bin", 2500));
  Click(1019);
  EXPECT_EQ(Bar()->value(), 1);
  EXPECT_TRUE(dlg_.Watching());
  Reply("OK");
  EXPECT_EQ(Bar()->value(), 2);
  Reply("OK");
  Reply("OK");  // end frame out
  EXPECT_EQ(Bar()->value(), 2);
  ASSERT_EQ(udp_sent_.size(), 4u);
  EXPECT_EQ(udp_sent_.back().size(), 16u);
  EXPECT_TRUE(serial_sent_.empty());
  Reply("YES");
  EXPECT_EQ(modal_.messages, QStringList{kAccepted});
  EXPECT_EQ(modal_.last_buttons, MessageButtons::OkCancel);
  EXPECT_FALSE(dlg_.Watching());
  EXPECT_EQ(Bar()->value(), 2);  // stays where it was

  // A late "OK" after the ending sends nothing.
  Reply("OK");
  EXPECT_EQ(udp_sent_.size(), 4u);

  Click(1019);
  Reply("XERR");
  EXPECT_EQ(modal_.messages.back(), kCheckFailed);
  EXPECT_EQ(modal_.last_buttons, MessageButtons::Ok);
  EXPECT_FALSE(dlg_.Watching());

  // Stop: bar back to 0, message also when nothing runs; nothing sent to the device.
  Click(1019);
  const auto sent = udp_sent_.size();
  Click(1022);
  EXPECT_EQ(modal_.messages.back(), kStopped);
  EXPECT_EQ(Bar()->value(), 0);
  EXPECT_FALSE(dlg_.Watching());
  Click(1022);
  EXPECT_EQ(modal_.messages.back(), kStopped);
  EXPECT_EQ(udp_sent_.size(), sent);
  // Replies other than the firmware code are not acted on.
  const Bytes other{0xF5, 0x00, 0xE2, 0x03, 'Y', 'E', 'S', 0x00, 0x0D};
  dlg_.HandleFirmwareReply(ReplyFrame{Link::Udp, other});
  QCoreApplication::sendPostedEvents(&dlg_, QEvent::MetaCall);
  EXPECT_EQ(modal_.messages.size(), 4);
}

TEST_F(FotaDialogTest, EmptyOrUnopenablePathSendsNothing) {
  Click(1019);
  EXPECT_EQ(modal_.messages, QStringList{kEmptyPath});
  Path()->setText(dir_.filePath("missing.bin"));
  Click(1019);
  ASSERT_EQ(modal_.messages.size(), 2);
  EXPECT_FALSE(modal_.messages[1].isEmpty());
  // An empty file: nothing sent, nothing shown, idle.
  Path()->setText(MakeFile(dir_, "empty.bin", 0));
  Click(1019);
  EXPECT_EQ(modal_.messages.size(), 2);
  EXPECT_TRUE(udp_sent_.empty());
  EXPECT_FALSE(dlg_.Watching());
}

TEST_F(FotaDialogTest, HandTypedPathIsShownAndSentWithItsOwnLength) {
  Choose(MakeFile(dir_, "chosen.bin", 1 << 20));
  const QString typed = MakeFile(dir_, "typed.bin", 3000);
  Path()->setText(typed);
  Click(1019);
  EXPECT_EQ(Text(1041), "typed.bin");
  EXPECT_EQ(Text(1042), "3.000 kb");
  EXPECT_EQ(Bar()->maximum(), 2);
  for (int i = 0; i < 3; ++i) Reply("OK");
  ASSERT_EQ(udp_sent_.back().size(), 16u);
  EXPECT_EQ((Bytes(udp_sent_.back().begin() + 6, udp_sent_.back().begin() + 10)), (Bytes{0, 0, 0x0B, 0xB8}));
}

TEST_F(FotaDialogTest, ClosingOnlyHidesAndTheTransferGoesOn) {
  Choose(MakeFile(dir_, "fw.bin", 5000));
  dlg_.ShowNormal();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg_));
  Click(1019);
  dlg_.close();
  EXPECT_FALSE(dlg_.isVisible());
  Reply("OK");
  EXPECT_EQ(udp_sent_.size(), 2u);

  dlg_.ShowNormal();
  QTest::keyClick(&dlg_, Qt::Key_Escape);
  EXPECT_FALSE(dlg_.isVisible());
  // Enter in the path box on the file being sent leaves it all as it is, the window too.
  dlg_.ShowNormal();
  Path()->setFocus();
  QTest::keyClick(Path(), Qt::Key_Return);
  EXPECT_TRUE(dlg_.isVisible());
  EXPECT_TRUE(dlg_.Watching());
  EXPECT_EQ(Bar()->value(), 2);
  Reply("OK");
  EXPECT_EQ(udp_sent_.size(), 3u);
  EXPECT_TRUE(modal_.messages.isEmpty());

  // Enter on a focused button presses it.
  dlg_.ShowNormal();
  Control(1022)->setFocus();
  QTest::keyClick(Control(1022), Qt::Key_Return);
  EXPECT_EQ(modal_.messages, QStringList{kStopped});
  EXPECT_TRUE(dlg_.isVisible());
}

TEST_F(FotaDialogTest, EnterInThePathBoxLoadsTheTypedFileAndReopeningShowsWhatIsLoaded) {
  dlg_.ShowNormal();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg_));
  const auto enter = [&](const QString& path) {
    Path()->setText(path);
    Path()->setFocus();
    QTest::keyClick(Path(), Qt::Key_Return);
    EXPECT_TRUE(dlg_.isVisible()) << path.toStdString();
  };
  const QString typed = MakeFile(dir_, "typed.bin", 3000);
  enter(typed);
  EXPECT_EQ(Text(1041), "typed.bin");
  EXPECT_EQ(Text(1042), "3.000 kb");
  EXPECT_EQ(Bar()->maximum(), 2);
  EXPECT_EQ(Bar()->value(), 0);
  EXPECT_TRUE(modal_.messages.isEmpty());
  EXPECT_TRUE(udp_sent_.empty());

  enter(dir_.filePath("missing.bin"));
  ASSERT_EQ(modal_.messages.size(), 1);
  EXPECT_EQ(Text(1041), "");
  EXPECT_EQ(Text(1042), "");
  EXPECT_EQ(Bar()->maximum(), 1);
  EXPECT_EQ(Bar()->value(), 0);
  enter(QString());
  EXPECT_EQ(modal_.messages.size(), 1);

  // The open button starts at what the box holds.
  Path()->setText(typed);
  Choose(QString());
  EXPECT_EQ(modal_.open_starts, QStringList{typed});

  // A finished upload, then a path typed without Enter: the window reopens on the file,
  // size and progress the engine has.
  enter(MakeFile(dir_, "tiny.bin", 500));
  Click(1019);
  Reply("OK");
  Reply("YES");
  ASSERT_EQ(Bar()->value(), 1);
  Path()->setText(dir_.filePath("half typed"));
  dlg_.close();
  dlg_.ShowNormal();
  EXPECT_EQ(Text(1041), "tiny.bin");
  EXPECT_EQ(Text(1042), "0.500 kb");
  EXPECT_EQ(Bar()->maximum(), 1);
  EXPECT_EQ(Bar()->value(), 1);

  // During an upload another file typed and entered takes its place, as choosing it does.
  enter(typed);
  Click(1019);
  ASSERT_TRUE(dlg_.Watching());
  enter(MakeFile(dir_, "other.bin", 2048));
  EXPECT_FALSE(dlg_.Watching());
  EXPECT_EQ(Text(1041), "other.bin");
  EXPECT_EQ(Bar()->value(), 0);
}

// The real 10 ms timer, hidden: one resend after about 3 s, the time-out after 6 s.
TEST_F(FotaDialogTest, SilentDeviceGetsOneResendThenTheTimeOut) {
  Choose(MakeFile(dir_, "fw.bin", 5000));
  QElapsedTimer clock;
  Click(1019);
  clock.start();
  ASSERT_FALSE(dlg_.isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return udp_sent_.size() == 2; }, 20000));
  const qint64 resend_ms = clock.elapsed();
  EXPECT_EQ(udp_sent_[0], udp_sent_[1]);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !modal_.messages.isEmpty(); }, 20000));
  const qint64 timeout_ms = clock.elapsed();
  EXPECT_EQ(modal_.messages, QStringList{kTimedOut});
  EXPECT_EQ(udp_sent_.size(), 2u);
  EXPECT_GE(resend_ms, 2900);
  EXPECT_GE(timeout_ms, 5900);
  EXPECT_FALSE(dlg_.Watching());
  QTest::qWait(50);
  EXPECT_EQ(modal_.messages.size(), 1);
}

TEST(FotaInMainWindow, CreatedOnceOnFirstUseAndShownAgainWithItsState) {
  test::AppFixture app;
  MainWindow& w = *app.window;
  const Bytes yes = FirmwareReply("YES");
  w.ForwardFirmwareReply(ReplyFrame{Link::Udp, yes});  // no dialog yet: goes nowhere
  QCoreApplication::processEvents();
  EXPECT_EQ(w.Firmware(), nullptr);
  EXPECT_TRUE(app.modal.messages.isEmpty());

  w.OpenFirmwareDialog(Link::Udp);
  FirmwareDialog* dlg = w.Firmware();
  ASSERT_NE(dlg, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg));
  EXPECT_EQ(dlg->parentWidget(), &w);
  EXPECT_TRUE(dlg->isWindow());
  EXPECT_FALSE(dlg->isModal());
  EXPECT_LE((dlg->frameGeometry().center() - w.frameGeometry().center()).manhattanLength(), 4);

  QTemporaryDir dir;
  app.modal.file_answers.push_back(MakeFile(dir, "keep.bin", 4096));
  qobject_cast<QPushButton*>(FindControl(dlg, 1003))->click();
  // Moved as the engineer would, through the window system, not by the program.
  const QPoint placed = dlg->geometry().topLeft() + QPoint(37, 23);
  dlg->windowHandle()->setPosition(placed);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->geometry().topLeft() == placed; }, 2000))
      << dlg->geometry().topLeft().x() << "," << dlg->geometry().topLeft().y();
  dlg->close();
  ASSERT_FALSE(dlg->isVisible());

  w.OpenFirmwareDialog(Link::Serial);
  EXPECT_EQ(w.Firmware(), dlg);
  EXPECT_EQ(w.findChildren<FirmwareDialog*>().size(), 1);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(dlg->geometry().topLeft(), placed);
  EXPECT_EQ(qobject_cast<QLabel*>(FindControl(dlg, 1041))->text(), "keep.bin");
  EXPECT_EQ(qobject_cast<QProgressBar*>(FindControl(dlg, 1040))->maximum(), 4);

  // Forwarded replies reach it now; hidden or not. Nothing runs, so any link's verdict ends it.
  dlg->hide();
  w.ForwardFirmwareReply(ReplyFrame{Link::Serial, yes});
  QCoreApplication::sendPostedEvents(dlg, QEvent::MetaCall);
  EXPECT_EQ(app.modal.messages, QStringList{kAccepted});
}

TEST(FotaInMainWindow, AnUploadKeepsItsLinkWhenTheOtherPagesFotaIsPressed) {
  test::AppFixture app;
  MainWindow& w = *app.window;
  QTemporaryDir dir;
  auto fota_button = [&](int page) { return qobject_cast<QPushButton*>(FindControl(w.Page(page), 1037)); };
  fota_button(MainWindow::kSerialPage)->click();
  FirmwareDialog* dlg = w.Firmware();
  ASSERT_NE(dlg, nullptr);
  app.modal.file_answers.push_back(MakeFile(dir, "fw.bin", 5000));
  qobject_cast<QPushButton*>(FindControl(dlg, 1003))->click();
  // The serial port is not open: the frame goes nowhere, and the transfer waits for it.
  qobject_cast<QPushButton*>(FindControl(dlg, 1019))->click();
  ASSERT_TRUE(dlg->Transfer().Awaiting());
  ASSERT_EQ(dlg->Transfer().Sequence(), 1);
  // Both pages and the dialog say which link the upload runs over.
  const QString title = dlg->windowTitle();
  EXPECT_TRUE(title.endsWith(QString::fromUtf8(" (串口)"))) << title.toStdString();
  for (int page : {MainWindow::kSerialPage, MainWindow::kNetworkPage}) {
    EXPECT_EQ(fota_button(page)->toolTip(), QString::fromUtf8("固件正在通过串口升级")) << page;
  }

  fota_button(MainWindow::kNetworkPage)->click();
  EXPECT_EQ(dlg->ActiveLink(), Link::Serial);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_TRUE(app.LogText().contains(QString::fromUtf8("固件正在通过串口升级")));

  // An "OK" over UDP is not the device being upgraded; one over the serial link is.
  const Bytes ok = FirmwareReply("OK");
  w.ForwardFirmwareReply(ReplyFrame{Link::Udp, ok});
  QCoreApplication::sendPostedEvents(dlg, QEvent::MetaCall);
  EXPECT_EQ(dlg->Transfer().Sequence(), 1);
  w.ForwardFirmwareReply(ReplyFrame{Link::Serial, ok});
  QCoreApplication::sendPostedEvents(dlg, QEvent::MetaCall);
  EXPECT_EQ(dlg->Transfer().Sequence(), 2);
  EXPECT_EQ(dlg->Transfer().TransferLink(), Link::Serial);

  // Once stopped, the next upload goes over the link last chosen.
  qobject_cast<QPushButton*>(FindControl(dlg, 1022))->click();
  EXPECT_EQ(dlg->ActiveLink(), Link::Udp);
  EXPECT_EQ(dlg->windowTitle(), title.chopped(5));
  for (int page : {MainWindow::kSerialPage, MainWindow::kNetworkPage}) {
    EXPECT_TRUE(fota_button(page)->toolTip().isEmpty()) << page;
  }

  // An upload over UDP says so.
  qobject_cast<QPushButton*>(FindControl(dlg, 1019))->click();
  ASSERT_TRUE(dlg->Transfer().Awaiting());
  EXPECT_EQ(dlg->windowTitle(), title.chopped(5) + QStringLiteral(" (UDP)"));
  EXPECT_EQ(fota_button(MainWindow::kSerialPage)->toolTip(), QString::fromUtf8("固件正在通过UDP升级"));
  qobject_cast<QPushButton*>(FindControl(dlg, 1022))->click();
}

}  // namespace
}  // namespace velmora
