// velmora-sim as a process, over a real pseudo-terminal and a real loopback socket.

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "config/config_defaults.h"
#include "sim/sim_test_util.h"
#include "support/pty_pair.h"
#include "support/sim_process.h"
#include "wire.h"

namespace velmora::sim {
namespace {

using namespace velmora::sim::test;
using velmora::test::RawSerial;
using velmora::test::RawUdp;
using velmora::test::SimProcess;

Bytes DefaultRecordReply(uint8_t code) {
  const ConfigRecord r = EncodeConfig(DefaultConfigForm());
  return Reply(code, Bytes(r.begin(), r.end()));
}

Bytes ToBytes(const QByteArray& a) { return Bytes(a.begin(), a.end()); }

TEST(SimProcess, AnswersOverThePseudoTerminalAndOverUdpToTheSender) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start()) << sim.StartError().toStdString();
  ASSERT_FALSE(sim.SerialPath().isEmpty());
  ASSERT_NE(sim.UdpPort(), 0);
  EXPECT_EQ(sim.UdpAddress(), QHostAddress(QHostAddress::LocalHost));

  RawSerial line;
  ASSERT_TRUE(line.Open(sim.SerialPath()));
  ASSERT_TRUE(line.Write(Command(0xE2)));
  EXPECT_EQ(line.Read(227, 3000), DefaultRecordReply(0xE2));

  RawUdp udp;
  ASSERT_TRUE(udp.Send(Command(0xE2), sim.UdpAddress(), sim.UdpPort()));
  const auto got = udp.Receive(3000);
  ASSERT_TRUE(got);
  EXPECT_EQ(ToBytes(*got), DefaultRecordReply(0xE2));
  EXPECT_EQ(udp.LastSenderPort(), sim.UdpPort());

  // A datagram holding anything but exactly one frame is not answered.
  Bytes two = Command(0xEB);
  two.insert(two.end(), two.begin(), two.end());
  ASSERT_TRUE(udp.Send(two, sim.UdpAddress(), sim.UdpPort()));
  EXPECT_FALSE(udp.Receive(300));

  EXPECT_EQ(sim.CountLines(QStringLiteral("serial rx E2")), 1);
  EXPECT_EQ(sim.CountLines(QStringLiteral("udp tx E2")), 1);
  const auto counts = sim.Stop();
  EXPECT_TRUE(counts.complete);
  EXPECT_EQ(counts.Get(QStringLiteral("rx.E2")), 2u);
  EXPECT_EQ(counts.Get(QStringLiteral("tx.E2")), 2u);
  EXPECT_EQ(counts.Get(QStringLiteral("malformed.length")), 1u);
}

TEST(SimProcess, OnEveryAddressItAnswersEachSenderAtItsOwnPort) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-serial", "--udp-address", "0.0.0.0"})) << sim.StartError().toStdString();
  EXPECT_EQ(sim.UdpAddress(), QHostAddress(QHostAddress::AnyIPv4));
  // 127.0.0.2 is this machine too, but only a socket on every address hears it.
  RawUdp a, b;
  ASSERT_TRUE(a.Send(Command(0xE3), QHostAddress(QStringLiteral("127.0.0.2")), sim.UdpPort()));
  ASSERT_TRUE(b.Send(Command(0xEB), QHostAddress(QHostAddress::LocalHost), sim.UdpPort()));
  const auto to_a = a.Receive(3000);
  const auto to_b = b.Receive(3000);
  ASSERT_TRUE(to_a && to_b);
  EXPECT_EQ(ToBytes(*to_a), Reply(0xE3, Text(kDefaultVersion)));
  EXPECT_EQ(ToBytes(*to_b), Reply(0xEB, {kDefaultCsq}));
  EXPECT_EQ(a.LastSenderPort(), sim.UdpPort());
}

TEST(SimProcess, SerialFramesSurviveSplitWritesGarbageAndBadFramesAndTheLineCanBeReopened) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-udp"})) << sim.StartError().toStdString();
  {
    RawSerial line;
    ASSERT_TRUE(line.Open(sim.SerialPath()));
    const Bytes version = Command(0xE3);
    Bytes bad = Command(0xEB);
    bad[4] ^= 0x40;
    Bytes first = {0x00, 0x7F, 0xF5};
    first.insert(first.end(), version.begin(), version.begin() + 3);
    Bytes second(version.begin() + 3, version.end());
    second.insert(second.end(), bad.begin(), bad.end());
    const Bytes csq = Command(0xEB);
    second.insert(second.end(), csq.begin(), csq.end());
    ASSERT_TRUE(line.Write(first));
    QThread::msleep(50);
    ASSERT_TRUE(line.Write(second));
    const Bytes expected_version = Reply(0xE3, Text(kDefaultVersion));
    Bytes expected = expected_version;
    const Bytes expected_csq = Reply(0xEB, {kDefaultCsq});
    expected.insert(expected.end(), expected_csq.begin(), expected_csq.end());
    EXPECT_EQ(line.Read(expected.size(), 3000), expected);
    EXPECT_TRUE(line.ReadBurst(200, 300).empty());  // nothing for the bad frame
  }
  // The tool closed the port; opened again, the line still works, and a frame that
  // stops halfway is given up after the line has been quiet.
  RawSerial again;
  ASSERT_TRUE(again.Open(sim.SerialPath()));
  const Bytes write = Command(0xE1, Bytes(221, 0x42));
  ASSERT_TRUE(again.Write(std::span(write).first(40)));
  QThread::msleep(StreamParser::kSilenceLimit / kMilli + 200);
  ASSERT_TRUE(again.Write(Command(0xE2)));
  EXPECT_EQ(again.Read(227, 3000), DefaultRecordReply(0xE2));  // the half write stored nothing

  const auto counts = sim.Stop();
  EXPECT_EQ(counts.Get(QStringLiteral("malformed.checksum")), 1u);
  EXPECT_EQ(counts.Get(QStringLiteral("malformed.incomplete")), 1u);
  EXPECT_EQ(counts.Get(QStringLiteral("noise-bytes")), 3u);
  EXPECT_EQ(counts.Get(QStringLiteral("rx.E1")), 0u);
}

TEST(SimProcess, FirmwareOverThePseudoTerminalWithAResentFrameIsWrittenOnce) {
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("image.bin"));
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-udp", "--image-out", out})) << sim.StartError().toStdString();
  RawSerial line;
  ASSERT_TRUE(line.Open(sim.SerialPath()));
  const Bytes ok = Reply(0xE5, Text("OK"));
  const Bytes image = TestImage(2500, 40);
  const Bytes c0(image.begin(), image.begin() + 1024), c1(image.begin() + 1024, image.begin() + 2048),
      c2(image.begin() + 2048, image.end());

  ASSERT_TRUE(line.Write(FirmwareData(0, c0)));
  EXPECT_EQ(line.Read(ok.size(), 3000), ok);
  ASSERT_TRUE(line.Write(FirmwareData(0, c0)));  // as if the "OK" had been lost
  EXPECT_EQ(line.Read(ok.size(), 3000), ok);
  ASSERT_TRUE(line.Write(FirmwareData(2, c2)));  // a frame skipped: no answer
  EXPECT_TRUE(line.ReadBurst(200, 300).empty());
  ASSERT_TRUE(line.Write(FirmwareData(1, c1)));
  EXPECT_EQ(line.Read(ok.size(), 3000), ok);
  ASSERT_TRUE(line.Write(FirmwareData(2, c2)));
  EXPECT_EQ(line.Read(ok.size(), 3000), ok);
  ASSERT_TRUE(line.Write(FirmwareEnd(2500, Sum32(image))));
  const Bytes yes = Reply(0xE5, Text("YES"));
  EXPECT_EQ(line.Read(yes.size(), 3000), yes);

  EXPECT_EQ(ReadBytes(out), image);

  const auto counts = sim.Stop();
  EXPECT_EQ(counts.Get(QStringLiteral("fw.chunks")), 3u);
  EXPECT_EQ(counts.Get(QStringLiteral("fw.repeats")), 1u);
  EXPECT_EQ(counts.Get(QStringLiteral("fw.out-of-sequence")), 1u);
  EXPECT_EQ(counts.Get(QStringLiteral("fw.images-accepted")), 1u);
}

TEST(SimProcess, DeviceTextArrivesAsABurstOfItsOwn) {
  // The tool closes a serial burst after 5 quiet ms: a reply and the text behind it must
  // be separated by more than that, or the tool would see one garbled burst.
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-udp", "--interleave-text", "1"})) << sim.StartError().toStdString();
  RawSerial line;
  ASSERT_TRUE(line.Open(sim.SerialPath()));
  ASSERT_TRUE(line.Write(Command(0xE4)));
  EXPECT_EQ(line.ReadBurst(8, 2000), Reply(0xE4));
  const Bytes status = line.ReadBurst(8, 2000);
  const Bytes boot = line.ReadBurst(8, 2000);
  const std::string s(status.begin(), status.end()), b(boot.begin(), boot.end());
  EXPECT_EQ(s.rfind("DTU: status", 0), 0u) << s;
  EXPECT_EQ(b.rfind("DTU boot", 0), 0u) << b;
  EXPECT_EQ(b.substr(b.size() - 2), "\r\n");
  const auto counts = sim.Stop();
  EXPECT_EQ(counts.Get(QStringLiteral("text")), 2u);
}

TEST(SimProcess, FaultsDelayAndDropRepliesOverUdp) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-serial", "--delay-ms", "150", "--drop-every", "2"})) << sim.StartError().toStdString();
  RawUdp udp;
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(udp.Send(Command(0xEB), sim.UdpAddress(), sim.UdpPort()));
  const auto first = udp.Receive(3000);
  ASSERT_TRUE(first);
  EXPECT_GE(t.elapsed(), 150);
  ASSERT_TRUE(udp.Send(Command(0xEB), sim.UdpAddress(), sim.UdpPort()));
  EXPECT_FALSE(udp.Receive(600));
  const auto counts = sim.Stop();
  EXPECT_EQ(counts.Get(QStringLiteral("dropped")), 1u);
  EXPECT_EQ(counts.Get(QStringLiteral("tx.EB")), 1u);
}

TEST(SimProcess, AModelledLineNeverDeliversAReplyEarlierThanARealOneCould) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-udp", "--baud", "9600"})) << sim.StartError().toStdString();
  RawSerial line;
  ASSERT_TRUE(line.Open(sim.SerialPath()));
  const Bytes record = TestImage(221, 41);
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(line.Write(Command(0xE1, record)));
  const Bytes first = line.Read(1, 5000);
  const qint64 first_at = t.nsecsElapsed();
  Bytes reply = first;
  const Bytes rest = line.Read(226, 5000);
  reply.insert(reply.end(), rest.begin(), rest.end());
  const qint64 done_at = t.nsecsElapsed();
  EXPECT_EQ(reply, Reply(0xE1, record));
  // 227 bytes in must have arrived before the first byte out has left: 236 ms and 1 ms;
  // the whole reply takes another 236 ms on the line.
  EXPECT_GE(first_at, WireTime(9600, 228));
  EXPECT_GE(done_at, WireTime(9600, 227 + 227));
  sim.Stop();
}

TEST(SimProcess, ServesASerialDeviceItIsGiven) {
  // A terminal pair of our own stands in for a USB adapter: the simulator gets the
  // terminal side by path, the test speaks on the other.
  velmora::test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-udp", "--serial", pty.SlavePath()})) << sim.StartError().toStdString();
  EXPECT_EQ(sim.SerialPath(), pty.SlavePath());
  ASSERT_TRUE(pty.WriteMaster(Command(0xEB)));
  const Bytes expected = Reply(0xEB, {kDefaultCsq});
  EXPECT_EQ(pty.ReadMaster(expected.size(), std::chrono::seconds(3)), expected);
  sim.Stop();

  // Something that is not a terminal is refused at start.
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("plain"));
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  SimProcess refused;
  EXPECT_FALSE(refused.Start({"--no-udp", "--serial", file}));
  EXPECT_TRUE(refused.ErrorOutput().contains(QStringLiteral("not a serial device")));
}

TEST(SimProcess, RecordsSurviveARestartWithAStateFile) {
  QTemporaryDir dir;
  const QString state = dir.filePath(QStringLiteral("state.txt"));
  const Bytes record = TestImage(221, 42);
  {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--no-udp", "--state", state})) << sim.StartError().toStdString();
    RawSerial line;
    ASSERT_TRUE(line.Open(sim.SerialPath()));
    ASSERT_TRUE(line.Write(Command(0xE1, record)));
    EXPECT_EQ(line.Read(227, 3000), Reply(0xE1, record));
    EXPECT_TRUE(sim.Stop().complete);
  }
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-udp", "--state", state})) << sim.StartError().toStdString();
  RawSerial line;
  ASSERT_TRUE(line.Open(sim.SerialPath()));
  ASSERT_TRUE(line.Write(Command(0xE2)));
  EXPECT_EQ(line.Read(227, 3000), Reply(0xE2, record));
}

TEST(SimProcess, KeepsALinkToItsTerminalAndRemovesItOnExit) {
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("velmora-dev"));
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--no-udp", "--link", link})) << sim.StartError().toStdString();
  EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.SerialPath());
  {
    RawSerial line;
    ASSERT_TRUE(line.Open(link));
    ASSERT_TRUE(line.Write(Command(0xEB)));
    EXPECT_EQ(line.Read(7, 3000), Reply(0xEB, {kDefaultCsq}));
  }
  sim.Stop();
  EXPECT_FALSE(QFileInfo::exists(link));
  EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(SimProcess, RefusesToStartRatherThanClobberOrForget) {
  QTemporaryDir dir;
  // A link path that is someone's file is left alone.
  const QString file = dir.filePath(QStringLiteral("notes.txt"));
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep me");
  }
  SimProcess a;
  EXPECT_FALSE(a.Start({"--no-udp", "--link", file}));
  EXPECT_EQ(a.ExitCode(), 2);
  EXPECT_TRUE(a.ErrorOutput().contains(file));
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("keep me"));

  // A state file it cannot read is not silently replaced by defaults.
  const QString state = dir.filePath(QStringLiteral("state.txt"));
  {
    QFile s(state);
    ASSERT_TRUE(s.open(QIODevice::WriteOnly));
    s.write("config 1234\n");
  }
  SimProcess b;
  EXPECT_FALSE(b.Start({"--no-udp", "--state", state}));
  EXPECT_EQ(b.ExitCode(), 2);
  EXPECT_TRUE(b.ErrorOutput().contains(state));

  // A port already taken.
  SimProcess first;
  ASSERT_TRUE(first.Start({"--no-serial"})) << first.StartError().toStdString();
  SimProcess second;
  EXPECT_FALSE(second.Start({"--no-serial", "--udp-port", QString::number(first.UdpPort())}));
  EXPECT_EQ(second.ExitCode(), 2);
}

}  // namespace
}  // namespace velmora::sim
