// A command the device leaves unanswered: one Log line naming it and its link, nothing
// else touched, and no timer left running once nothing is awaited.

#include "page_harness.h"
#include "resources/config_layouts.h"
#include "resources/mqtt_layout.h"

namespace velmora {
namespace {

using test::PageHarness;
using test::PtyPair;
using test::Reply;
using test::UdpDevice;
using test::WaitUntil;
using namespace std::chrono_literals;

QString U(const char* s) { return QString::fromUtf8(s); }

struct NoAnswerHarness : PageHarness {
  QStringList Unanswered() const {
    QStringList out;
    for (const QString& l : LogLines()) {
      if (l.contains(U("没有应答"))) out << l;
    }
    return out;
  }
  bool WaitForUnanswered(int n, std::chrono::milliseconds timeout = 3s) {
    return WaitUntil([&] { return Unanswered().size() >= n; }, timeout);
  }
  bool Idle() const { return window->Answers().Awaited() == 0 && !window->Answers().TimerRunning(); }
};

TEST(NoAnswer, EachUnansweredCommandOfEveryPageIsLoggedOnceWithItsLinkAndChangesNothingElse) {
  NoAnswerHarness app;
  app.window->SetAnswerWait(400ms);
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  UdpDevice device(app.udp_device_port);
  ASSERT_TRUE(device.Bound());
  app.OpenSerialOn(pty);
  app.OpenNetworkOnLoopback();
  EXPECT_TRUE(app.Idle());

  // Pressed twice, answered once: one of the two goes unanswered, whichever the device
  // meant to answer.
  app.Click(app.Serial(), res::kIdcReadVersion);
  app.Click(app.Serial(), res::kIdcReadVersion);
  ASSERT_EQ(pty.ReadMaster(12, 3s).size(), 12u);
  ASSERT_TRUE(pty.WriteMaster(Reply(cmd::kReadVersion, test::Text("V1"))));
  ASSERT_TRUE(app.WaitForStatus("Successful!"));

  const QString port = app.Edit(app.Serial(), res::kIdcEthPort)->text();
  app.Click(app.Serial(), res::kIdcReadCsq);
  app.Click(app.Serial(), res::kIdcReadConfig);
  app.Click(app.Network(), res::kIdcSyncClock);
  ASSERT_FALSE(device.Receive().empty());
  app.Click(app.Mqtt(), res::kIdcReadMqtt);  // over serial, open
  EXPECT_GE(app.window->Answers().Awaited(), 4u);
  EXPECT_TRUE(app.window->Answers().TimerRunning());

  ASSERT_TRUE(app.WaitForUnanswered(5)) << app.LogLines().join('\n').toStdString();
  ASSERT_TRUE(WaitUntil([&] { return app.Idle(); }, 1s));
  QStringList lines = app.Unanswered();
  lines.sort();
  EXPECT_EQ(lines, (QStringList{U("[MQTT 读取配置]: 串口 0.4 秒内没有应答 (命令 E7)."),
                                U("[同步时钟]: UDP 0.4 秒内没有应答 (命令 EC)."),
                                U("[读CSQ]: 串口 0.4 秒内没有应答 (命令 EB)."),
                                U("[读取配置]: 串口 0.4 秒内没有应答 (命令 E2)."),
                                U("[读版本]: 串口 0.4 秒内没有应答 (命令 E3).")}));
  EXPECT_EQ(app.window->StatusText(), "....");
  EXPECT_EQ(app.Edit(app.Serial(), res::kIdcEthPort)->text(), port);

  // Once said, never again.
  QTest::qWait(600);
  EXPECT_EQ(app.Unanswered().size(), 5);
}

TEST(NoAnswer, OnlyAReplyOfTheCodeOnTheSameLinkAnswersWhoeverSentTheQuestion) {
  NoAnswerHarness app;
  app.window->SetAnswerWait(500ms);
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  UdpDevice device(app.udp_device_port);
  ASSERT_TRUE(device.Bound());
  app.OpenSerialOn(pty);
  app.OpenNetworkOnLoopback();

  // A version reply over UDP and a CSQ reply over serial answer neither serial read.
  app.Click(app.Serial(), res::kIdcReadVersion);
  device.Send(Reply(cmd::kReadVersion, test::Text("V1")), app.udp_local_port);
  ASSERT_TRUE(pty.WriteMaster(Reply(cmd::kReadCsq, {20})));
  ASSERT_TRUE(app.WaitForUnanswered(1));
  EXPECT_EQ(app.Unanswered(), QStringList{U("[读版本]: 串口 0.5 秒内没有应答 (命令 E3).")});

  // Answered in time: no line, and the timer stops with the answer.
  app.Click(app.Serial(), res::kIdcReadVersion);
  ASSERT_TRUE(pty.WriteMaster(Reply(cmd::kReadVersion, test::Text("V1"))));
  ASSERT_TRUE(WaitUntil([&] { return app.Idle(); }));
  QTest::qWait(700);
  EXPECT_EQ(app.Unanswered().size(), 1);
}

TEST(NoAnswer, AClosedLinkOrAFrameThatNeverWentOutAwaitsNothing) {
  NoAnswerHarness app;
  app.window->SetAnswerWait(300ms);

  // Neither link open: the serial write fails, the UDP send shows its box.
  app.Click(app.Serial(), res::kIdcReadVersion);
  app.Click(app.Network(), res::kIdcReadVersion);
  app.Click(app.Mqtt(), res::kIdcWriteMqtt);
  EXPECT_EQ(app.modal.messages.size(), 2);
  EXPECT_TRUE(app.Idle());

  // Closing a link drops what was awaited on it, at once and without a line: the Log
  // says the link closed, and the device was never given the chance to answer.
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  UdpDevice device(app.udp_device_port);
  ASSERT_TRUE(device.Bound());
  app.OpenSerialOn(pty);
  app.OpenNetworkOnLoopback();
  app.Click(app.Serial(), res::kIdcReadConfig);
  app.Click(app.Network(), res::kIdcReadConfig);
  app.Click(app.Serial(), res::kIdcOpenClose);
  EXPECT_EQ(app.window->Answers().Awaited(), 1u) << app.LogLines().join('\n').toStdString();
  app.Click(app.Network(), res::kIdcOpenClose);
  EXPECT_TRUE(app.Idle());
  QTest::qWait(500);
  EXPECT_TRUE(app.Unanswered().isEmpty()) << app.Unanswered().join('\n').toStdString();
}

TEST(NoAnswer, TheWaitIsThreeSecondsAndTheLineSaysSo) {
  NoAnswerHarness app;
  EXPECT_EQ(app.window->Answers().Wait(), 3s);
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  app.OpenSerialOn(pty);
  const auto sent = std::chrono::steady_clock::now();
  app.Click(app.Serial(), res::kIdcReadVersion);
  ASSERT_TRUE(app.WaitForUnanswered(1, 5s));
  const auto waited = std::chrono::steady_clock::now() - sent;
  EXPECT_GE(waited, 3s);
  EXPECT_LT(waited, 4s);
  EXPECT_EQ(app.LogLines().back(), U("[读版本]: 串口 3 秒内没有应答 (命令 E3)."));
  EXPECT_EQ(app.window->StatusText(), "....");
  EXPECT_TRUE(app.Idle());
}

}  // namespace
}  // namespace velmora
