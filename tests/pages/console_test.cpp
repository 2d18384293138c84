// The send console: typed bytes out over the chosen open link, logged like any frame sent,
// the answers logged as always; a text that cannot be sent is refused with its place.

#include <QMenu>
#include <QToolButton>

#include "console/ui/send_dialog.h"
#include "page_harness.h"
#include "resources/config_layouts.h"
#include "resources/console_layout.h"

namespace velmora {
namespace {

using test::Bytes;
using test::PageHarness;
using test::PtyPair;
using test::Reply;
using test::UdpDevice;
using test::WaitUntil;
using namespace std::chrono_literals;
using Problem = ConsoleBytes::Problem;

QString U(const char* s) { return QString::fromUtf8(s); }

TEST(SendConsole, DataIsHexPairsOrGbkTextAndAFaultNamesItsCharacter) {
  struct Case {
    const char* text;
    bool hex;
    bool line_end;
    Bytes bytes;
    Problem problem;
    qsizetype at;
  };
  const Case cases[] = {
      {"F5 80 e3 00  58 0D", true, true, {0xF5, 0x80, 0xE3, 0x00, 0x58, 0x0D}, Problem::None, -1},
      {" F580E3 ", true, false, {0xF5, 0x80, 0xE3}, Problem::None, -1},
      {"F5 8G", true, false, {}, Problem::NotHex, 4},
      {"F5,80", true, false, {}, Problem::NotHex, 2},
      {"F5 8 0D", true, false, {}, Problem::LoneDigit, 3},
      {"F5 80 0", true, false, {}, Problem::LoneDigit, 6},
      {"   ", true, false, {}, Problem::Empty, -1},
      {"AT+中", false, true, {'A', 'T', '+', 0xD6, 0xD0, '\r', '\n'}, Problem::None, -1},
      {"", false, true, {'\r', '\n'}, Problem::None, -1},
      {"", false, false, {}, Problem::Empty, -1},
      {"ok 😀 €", false, false, {}, Problem::NotGbk, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ConsoleBytes got = ConsoleData(U(c.text), c.hex, c.line_end);
    EXPECT_EQ(got.problem, c.problem);
    EXPECT_EQ(got.at, c.at);
    EXPECT_EQ(got.bytes, c.bytes);
  }
}

struct ConsoleHarness : PageHarness {
  SendDialog* Open() {
    QAction* entry = test::MenuItem(window->ToolsButton()->menu(), U("发送数据..."));
    EXPECT_NE(entry, nullptr);
    if (entry) entry->trigger();
    return window->Console();
  }
  static QComboBox* List(SendDialog* d, int id) { return d->Controls().Combo(id); }
  static QAbstractButton* SendButton(SendDialog* d) { return d->Controls().Button(res::kIdcConsoleSend); }
  static QStringList Items(QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    return out;
  }
  void Enter(SendDialog* d, const QString& text) {
    LineEdit* e = d->Controls().Edit(res::kIdcConsoleData);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    test::TypeText(e, text);
    QTest::keyClick(e, Qt::Key_Return);  // Enter sends
  }
};

TEST(SendConsole, FromTheToolsMenuBytesGoOverTheChosenOpenLinkAndAreLoggedWithTheAnswers) {
  ConsoleHarness app;
  SendDialog* console = app.Open();
  ASSERT_NE(console, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(console));
  EXPECT_EQ(console->windowTitle(), U("发送数据"));

  // No link open: nothing to choose and Send off, with its reason.
  QComboBox* link = app.List(console, res::kIdcConsoleLink);
  EXPECT_EQ(link->count(), 0);
  EXPECT_FALSE(link->isEnabled());
  EXPECT_FALSE(app.SendButton(console)->isEnabled());
  EXPECT_TRUE(app.SendButton(console)->toolTip().contains(U("没有打开的链路")));

  // The serial link alone, then both: the list follows the pages' open buttons.
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  UdpDevice device(app.udp_device_port);
  ASSERT_TRUE(device.Bound());
  app.OpenSerialOn(pty);
  EXPECT_EQ(app.Items(link), QStringList{U("串口")});
  EXPECT_TRUE(app.SendButton(console)->isEnabled());
  EXPECT_TRUE(app.SendButton(console)->toolTip().isEmpty());
  app.OpenNetworkOnLoopback();
  EXPECT_EQ(app.Items(link), (QStringList{U("串口"), QStringLiteral("UDP")}));
  EXPECT_EQ(link->currentText(), U("串口"));

  // A page's version read and the same frame typed by hand: the device's one answer
  // answers the page, and the console's frame awaits nothing of its own.
  app.window->SetAnswerWait(500ms);
  app.Click(app.Serial(), res::kIdcReadVersion);
  app.Enter(console, QStringLiteral("f5 80 e3 00 58 0d"));
  const Bytes frame{0xF5, 0x80, 0xE3, 0x00, 0x58, 0x0D};
  EXPECT_EQ(pty.ReadMaster(12, 3s), (Bytes{0xF5, 0x80, 0xE3, 0x00, 0x58, 0x0D, 0xF5, 0x80, 0xE3, 0x00, 0x58, 0x0D}));
  EXPECT_EQ(app.LogLines().back(), U("串口发送:F5 80 E3 00 58 0D "));
  ASSERT_TRUE(pty.WriteMaster(Reply(cmd::kReadVersion, test::Text("V2"))));
  ASSERT_TRUE(WaitUntil([&] { return app.LogLines().contains(U("V2")); }));
  EXPECT_EQ(app.CountLines(U("串口接收:F5 00 E3")), 1);
  QTest::qWait(700);
  EXPECT_EQ(app.window->Answers().Awaited(), 0u);
  EXPECT_EQ(app.LogText().count(U("没有应答")), 0);

  // Text over UDP, as GBK, with the line end the box asks for.
  link->setCurrentIndex(1);
  app.Choose(*console, res::kIdcConsoleFormat, U("文本"));
  QAbstractButton* line_end = console->Controls().Button(res::kIdcConsoleLineEnd);
  ASSERT_TRUE(line_end->isEnabled());
  line_end->setChecked(true);
  app.Enter(console, U("AT+中"));
  EXPECT_EQ(device.Receive(), (Bytes{'A', 'T', '+', 0xD6, 0xD0, '\r', '\n'}));
  EXPECT_EQ(app.LogLines().back(), U("UDP发送:41 54 2B D6 D0 0D 0A "));

  // Back to hex: the line end is what is typed, and a wrong character is shown, not sent.
  app.Choose(*console, res::kIdcConsoleFormat, U("十六进制"));
  EXPECT_FALSE(line_end->isEnabled());
  const int lines = static_cast<int>(app.LogLines().size());
  app.Enter(console, QStringLiteral("F5 80 X3"));
  ASSERT_EQ(app.modal.messages.size(), 1);
  EXPECT_EQ(app.modal.messages[0], U("第7个字符“X”不是十六进制数字: 十六进制数据只能是十六进制数字和空格."));
  EXPECT_EQ(console->Controls().Edit(res::kIdcConsoleData)->selectedText(), "X");
  EXPECT_EQ(app.LogLines().size(), lines);
  EXPECT_TRUE(device.Receive(200ms).empty());

  // The chosen link closes: the other one is left.
  app.Click(app.Network(), res::kIdcOpenClose);
  EXPECT_EQ(app.Items(link), QStringList{U("串口")});
}

TEST(SendConsole, AFailedSerialWriteIsReportedAsThePagesReportItAndTheListFollows) {
  ConsoleHarness app;
  SendDialog* console = app.Open();
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  app.OpenSerialOn(pty);
  ASSERT_TRUE(app.SendButton(console)->isEnabled());

  pty.CloseMaster();
  app.Enter(console, QStringLiteral("01 02"));
  const QStringList lines = app.LogLines();
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[lines.size() - 2], U("串口发送:01 02 "));
  EXPECT_EQ(lines.back(), U("[COM]: 串口已断开,发送失败,已关闭串口."));
  EXPECT_FALSE(app.serial.IsOpen());
  EXPECT_EQ(app.List(console, res::kIdcConsoleLink)->count(), 0);
  EXPECT_FALSE(app.SendButton(console)->isEnabled());
}

}  // namespace
}  // namespace velmora
