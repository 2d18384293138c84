#include "device.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "config/config_defaults.h"
#include "fota/firmware_transfer.h"
#include "mqtt/mqtt_defaults.h"
#include "sim/sim_test_util.h"

namespace velmora::sim {
namespace {

using namespace velmora::sim::test;

struct Rig {
  explicit Rig(DeviceOptions o = {}, RecordStore records = {})
      : device(std::move(o), std::move(records), counts, [this](const std::string& where, const std::string& line) {
          log.push_back(where + " " + line);
        }) {}

  // `frame` arriving at `now`.
  std::vector<Output> Serial(const Bytes& frame, Nanos now = 0) {
    StreamParser p;
    std::vector<Output> all;
    for (auto& ev : p.Feed(frame, now))
      for (auto& o : device.OnParsed(SimLink::kSerial, ev.parsed, now)) all.push_back(std::move(o));
    return all;
  }

  Counters counts;
  std::vector<std::string> log;
  Device device;
};

Bytes ConfigPayload(const ConfigRecord& r) { return Bytes(r.begin(), r.end()); }

TEST(DeviceRecords, StartsFromTheToolsDefaultsAndReturnsThem) {
  Rig rig;
  const auto out = rig.Serial(Command(0xE2));
  ASSERT_EQ(out.size(), 1u);
  const Bytes& reply = out[0].bytes;
  ASSERT_EQ(reply.size(), 227u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), (Bytes{0xF5, 0x00, 0xE2, 0xDD}));
  EXPECT_EQ(reply[225], Sum(std::span(reply).first(225)));
  EXPECT_EQ(reply[226], 0x0D);
  const auto p = std::span(reply).subspan(4, 221);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 20),
            (Bytes{192, 168, 1, 100, 255, 255, 255, 0, 192, 168, 1, 1, 203, 0, 113, 10, 0x07, 0xD0, 0, 1}));
  EXPECT_EQ(Bytes(p.begin() + 84, p.begin() + 96), (Bytes{203, 0, 113, 10, 0x08, 0xB9, 203, 0, 113, 10, 0, 0}));
  EXPECT_EQ(Bytes(p.begin() + 160, p.begin() + 171), (Bytes{0x6C, 0x80, 0x12, 0, 4, 0, 6, 0, 4, 0, 0}));

  // And the page, decoding it, shows its own defaults again.
  const ConfigForm shown = DecodeConfig(p, false);
  const ConfigForm def = DefaultConfigForm();
  EXPECT_EQ(shown.server_ip, def.server_ip);
  EXPECT_EQ(shown.ip0_addr_port, def.ip0_addr_port);
  EXPECT_EQ(shown.ip0_domain_port, def.ip0_domain_port);
  EXPECT_EQ(shown.lora_freq, def.lora_freq);
  EXPECT_EQ(shown.uart_baud, def.uart_baud);
  EXPECT_EQ(shown.breathe_time, def.breathe_time);
  EXPECT_EQ(shown.tx_power, def.tx_power);
  EXPECT_EQ(std::string(kDefaultServerAddress), "203.0.113.10");

  const auto mqtt = rig.Serial(Command(0xE7));
  ASSERT_EQ(mqtt.size(), 1u);
  const MqttRecordBytes expected = EncodeMqtt(DefaultMqttCredentials());
  EXPECT_EQ(mqtt[0].bytes, Reply(0xE7, Bytes(expected.begin(), expected.end())));
}

TEST(DeviceRecords, WritesAreStoredEchoedAndReadBack) {
  Rig rig;
  ConfigForm form = DefaultConfigForm();
  form.local_ip = {10, 1, 2, 3};
  form.heartbeat = "ping";
  const Bytes record = ConfigPayload(EncodeConfig(form));
  auto out = rig.Serial(Command(0xE1, record));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, Reply(0xE1, record));
  out = rig.Serial(Command(0xE2));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, Reply(0xE2, record));

  Bytes mqtt(129, 0);
  mqtt[0] = 2;
  mqtt[1] = 'K';
  EXPECT_EQ(rig.Serial(Command(0xE6, mqtt)).at(0).bytes, Reply(0xE6, mqtt));
  EXPECT_EQ(rig.Serial(Command(0xE7)).at(0).bytes, Reply(0xE7, mqtt));
  EXPECT_EQ(rig.counts.Get("rx.E1"), 1u);
  EXPECT_EQ(rig.counts.Get("tx.E2"), 1u);
}

TEST(DeviceQueries, VersionCsqAndClockAnswers) {
  DeviceOptions o;
  o.version = "V9.8";
  o.csq = 31;
  Rig rig(o);
  EXPECT_EQ(rig.Serial(Command(0xE3)).at(0).bytes, Reply(0xE3, Text("V9.8")));
  EXPECT_EQ(rig.Serial(Command(0xEB)).at(0).bytes, Reply(0xEB, {31}));
  const Bytes clock{0x26, 0x12, 0x08, 0x06, 0x19, 0x23};
  EXPECT_EQ(rig.Serial(Command(0xEC, clock)).at(0).bytes, Reply(0xEC, clock));
}

TEST(DeviceQueries, ResetIsAcknowledgedThenBootTextFollowsAfterAPause) {
  Rig rig;
  const auto out = rig.Serial(Command(0xE4));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].bytes, Reply(0xE4));
  EXPECT_TRUE(out[1].text);
  EXPECT_GE(out[1].pause_before, kBootPause);
  const std::string text(out[1].bytes.begin(), out[1].bytes.end());
  EXPECT_NE(text.find(kDefaultVersion), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  // The tool treats a burst as text only when it is not F5 00 ... 0D; nor may it hold a
  // zero byte, which would cut the logged text.
  EXPECT_NE(out[1].bytes[0], 0xF5);
  EXPECT_EQ(std::count(out[1].bytes.begin(), out[1].bytes.end(), 0), 0);
}

TEST(DeviceMalformed, BadFramesGetNoReplyAndAreCounted) {
  Rig rig;
  Bytes bad_sum = Command(0xE2);
  bad_sum[4] ^= 1;
  EXPECT_TRUE(rig.Serial(bad_sum).empty());
  EXPECT_TRUE(rig.Serial(Command(0xE1, Bytes(220, 0))).empty());  // a record one byte short
  EXPECT_TRUE(rig.Serial(Command(0xE2, {0x00})).empty());         // a read with a payload
  EXPECT_TRUE(rig.Serial(Command(0xEC, {0x21, 0x03})).empty());
  EXPECT_TRUE(rig.Serial(Command(0xE8)).empty());                 // no such command
  EXPECT_EQ(rig.counts.Get("malformed"), 5u);
  EXPECT_EQ(rig.counts.Get("malformed.checksum"), 1u);
  EXPECT_EQ(rig.counts.Get("malformed.wrong-length"), 3u);
  EXPECT_EQ(rig.counts.Get("malformed.unknown-code"), 1u);
  // Nothing was stored by the short write.
  EXPECT_EQ(rig.device.Records().Config(), RecordStore().Config());
}

TEST(DeviceFaults, DropEveryNthReplyButStillActOnTheCommand) {
  DeviceOptions o;
  o.drop_every = 3;
  Rig rig(o);
  std::vector<std::size_t> answered;
  for (int i = 0; i < 7; ++i) answered.push_back(rig.Serial(Command(0xEB)).size());
  EXPECT_EQ(answered, (std::vector<std::size_t>{1, 1, 0, 1, 1, 0, 1}));
  EXPECT_EQ(rig.counts.Get("dropped"), 2u);
  EXPECT_EQ(rig.counts.Get("tx.EB"), 5u);

  // A dropped write-config reply still stores the record.
  DeviceOptions all;
  all.drop_every = 1;
  Rig drop_all(all);
  const Bytes record(221, 0x5A);
  EXPECT_TRUE(drop_all.Serial(Command(0xE1, record)).empty());
  EXPECT_EQ(ConfigPayload(drop_all.device.Records().Config()), record);
}

TEST(DeviceFaults, SilentActsButSendsNothing) {
  DeviceOptions o;
  o.silent = true;
  Rig rig(o);
  const Bytes record(221, 0x33);
  EXPECT_TRUE(rig.Serial(Command(0xE1, record)).empty());
  EXPECT_TRUE(rig.Serial(Command(0xE4)).empty());
  EXPECT_EQ(ConfigPayload(rig.device.Records().Config()), record);
  EXPECT_EQ(rig.counts.Get("silenced"), 3u);  // two replies and the boot text
  EXPECT_EQ(rig.counts.Get("tx.E1"), 0u);
}

TEST(DeviceFaults, InterleavedTextStandsApartFromTheReplies) {
  DeviceOptions o;
  o.interleave_every = 2;
  Rig rig(o);
  EXPECT_EQ(rig.Serial(Command(0xEB)).size(), 1u);
  const auto out = rig.Serial(Command(0xEB));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_FALSE(out[0].text);
  ASSERT_TRUE(out[1].text);
  // Quiet line on both sides, longer than the tool's five-tick burst gap.
  EXPECT_GE(out[1].pause_before, 10 * kMilli);
  EXPECT_GE(out[1].quiet_after, 10 * kMilli);
  EXPECT_NE(out[1].bytes[0], 0xF5);
  EXPECT_EQ(rig.counts.Get("text"), 1u);
}

TEST(DeviceState, AStateFileThatCannotBeReadIsRefusedNotReplaced) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("state.txt"));
  RecordStore good;
  QString error;
  ASSERT_TRUE(good.Save(path, &error));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray text = f.readAll();
  f.close();

  const QByteArray broken[] = {
      QByteArray(text).replace("config ", "config 00"),  // two digits too many
      QByteArray(text).replace("mqtt ", "# mqtt "),      // a record missing
      QByteArray(text).replace("config C0", "config ZZ"),  // not hex digits
      text + "config " + QByteArray(442, '0') + "\n",    // a record twice
  };
  for (const QByteArray& b : broken) {
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(b);
    f.close();
    RecordStore s;
    error.clear();
    EXPECT_FALSE(s.Load(path, &error)) << b.toStdString();
    EXPECT_FALSE(error.isEmpty());
  }

  // A state file that cannot be written is reported, and the device still answers.
  DeviceOptions o;
  o.state_path = dir.filePath(QStringLiteral("no/such/dir/state.txt"));
  Rig rig(o);
  EXPECT_EQ(rig.Serial(Command(0xE1, Bytes(221, 1))).size(), 1u);
  EXPECT_EQ(rig.counts.Get("state-write-failed"), 1u);
}

TEST(DeviceState, TheIdentityGivenWinsOverTheStoredRecordUntilTheToolWritesOne) {
  // A record as a state file would bring it: bytes no decode and encode gives back whole.
  RecordStore stored;
  const Bytes record = TestImage(221, 43);
  ASSERT_TRUE(stored.SetConfig(record));
  DeviceOptions o;
  o.local_ip = Ipv4Octets{192, 0, 2, 11};
  o.mac = MacBytes{0x02, 0x00, 0x5E, 0x10, 0xAB, 0x0B};
  Rig rig(o, stored);

  const auto out = rig.Serial(Command(0xE2));
  ASSERT_EQ(out.size(), 1u);
  const auto payload = std::span(out[0].bytes).subspan(4, 221);
  const ConfigForm shown = DecodeConfig(payload, false);
  EXPECT_EQ(shown.local_ip, (Ipv4Octets{192, 0, 2, 11}));
  EXPECT_EQ(shown.mac.substr(0, 17), "02 00 5E 10 AB 0B");
  // Every other byte is the stored record's.
  EXPECT_EQ(Bytes(payload.begin() + 4, payload.begin() + 215), Bytes(record.begin() + 4, record.begin() + 215));

  // The tool's write is what the device holds from then on.
  const Bytes written(221, 0x21);
  EXPECT_EQ(rig.Serial(Command(0xE1, written)).at(0).bytes, Reply(0xE1, written));
  EXPECT_EQ(rig.Serial(Command(0xE2)).at(0).bytes, Reply(0xE2, written));
}

// --- the tool's own transfer engine against the device's receiver --------------------

struct Upload {
  std::vector<FotaOutcome> outcomes;
  std::size_t frames_sent = 0;
};

// Runs the tool's transfer over a datagram link to the device until it ends.
Upload RunUpload(Device& device, const QString& path) {
  Upload u;
  std::vector<Bytes> wire;
  FirmwareTransfer t({}, [&](std::span<const uint8_t> b) { wire.emplace_back(b.begin(), b.end()); });
  u.outcomes.push_back(t.Start(path, Link::Udp));
  for (int guard = 0; guard < 100000 && t.Awaiting(); ++guard) {
    if (wire.empty()) {
      for (int i = 0; i < FirmwareTransfer::kSilentTicks; ++i) {
        const FotaOutcome o = t.Tick();
        if (o != FotaOutcome::kNone) u.outcomes.push_back(o);
      }
      continue;
    }
    const Bytes frame = wire.front();
    wire.erase(wire.begin());
    ++u.frames_sent;
    for (const Output& o : device.OnParsed(SimLink::kUdp, ParseDatagram(frame), 0)) {
      if (o.text) continue;
      const FotaOutcome out = t.HandleReply(ReplyFrame{Link::Udp, o.bytes});
      if (out != FotaOutcome::kNone) u.outcomes.push_back(out);
    }
  }
  return u;
}

TEST(DeviceFirmware, TheToolsTransferIsAcceptedAndTheImageWritten) {
  QTemporaryDir dir;
  const QString in = dir.filePath(QStringLiteral("fw.bin"));
  const Bytes image = TestImage(300 * 1024 + 77, 30);  // wraps the sequence
  ASSERT_TRUE(WriteBytes(in, image));

  DeviceOptions o;
  o.image_path = dir.filePath(QStringLiteral("out.bin"));
  Rig rig(o);
  const Upload u = RunUpload(rig.device, in);
  ASSERT_FALSE(u.outcomes.empty());
  EXPECT_EQ(u.outcomes.back(), FotaOutcome::kAccepted);
  EXPECT_EQ(ReadBytes(o.image_path), image);
  EXPECT_EQ(rig.counts.Get("fw.chunks"), 301u);
  EXPECT_EQ(rig.counts.Get("fw.images-accepted"), 1u);
}

TEST(DeviceFirmware, LostAcknowledgementsAreResentWithoutCorruptingTheImage) {
  QTemporaryDir dir;
  const QString in = dir.filePath(QStringLiteral("fw.bin"));
  const Bytes image = TestImage(20 * 1024, 31);
  ASSERT_TRUE(WriteBytes(in, image));

  DeviceOptions o;
  o.drop_every = 4;
  Rig rig(o);
  const Upload u = RunUpload(rig.device, in);
  EXPECT_EQ(u.outcomes.back(), FotaOutcome::kAccepted);
  EXPECT_EQ(rig.device.Firmware().AcceptedImage(), image);
  EXPECT_GT(rig.counts.Get("fw.repeats"), 0u);
  EXPECT_EQ(rig.counts.Get("fw.bytes"), image.size());
}

TEST(DeviceFirmware, TheXerrFaultEndsTheToolsTransferAsACheckFailure) {
  QTemporaryDir dir;
  const QString in = dir.filePath(QStringLiteral("fw.bin"));
  ASSERT_TRUE(WriteBytes(in, Bytes(2500, 'x')));
  DeviceOptions o;
  o.xerr_end = true;
  Rig rig(o);
  EXPECT_EQ(RunUpload(rig.device, in).outcomes.back(), FotaOutcome::kCheckFailed);
  EXPECT_EQ(rig.counts.Get("fw.images-rejected"), 1u);
}

// One chunk and its end frame by hand, at `now`; the answers to the end frame.
std::vector<Output> UploadByHand(Rig& rig, const Bytes& image, uint32_t sum, Nanos now) {
  const auto ok = rig.Serial(FirmwareData(0, image), now);
  EXPECT_EQ(ok.size(), 1u);
  return rig.Serial(FirmwareEnd(static_cast<uint32_t>(image.size()), sum), now);
}

TEST(DeviceFirmware, AnAcceptedImageBringsTheNewVersionAfterASilentRestart) {
  DeviceOptions o;
  o.version = "V1";
  o.version_after_upgrade = "V2";
  o.restart = 500 * kMilli;
  Rig rig(o);
  const Bytes image = TestImage(700, 44);
  const Nanos t = 1000 * kMilli;

  // A rejected image changes nothing: same version, no silence.
  EXPECT_EQ(UploadByHand(rig, image, Sum32(image) + 1, t).at(0).bytes, FirmwareReply("XERR"));
  EXPECT_EQ(rig.Serial(Command(0xE3), t).at(0).bytes, Reply(0xE3, Text("V1")));

  const auto end = UploadByHand(rig, image, Sum32(image), t);
  ASSERT_EQ(end.size(), 2u);
  EXPECT_EQ(end[0].bytes, FirmwareReply("YES"));
  ASSERT_TRUE(end[1].text);
  EXPECT_GE(end[1].pause_before, o.restart);  // the boot text once it has restarted

  // Restarting: the reset is neither answered nor acted on.
  EXPECT_TRUE(rig.Serial(Command(0xE4), t + 1).empty());
  EXPECT_TRUE(rig.Serial(Command(0xE3), t + o.restart - 1).empty());
  EXPECT_EQ(rig.counts.Get("unheard"), 2u);
  EXPECT_EQ(rig.counts.Get("rx.E4"), 0u);
  EXPECT_EQ(rig.Serial(Command(0xE3), t + o.restart).at(0).bytes, Reply(0xE3, Text("V2")));
}

TEST(DeviceFirmware, TheOkEndFaultAnswersOkToEveryEndFrameAndTakesNoImage) {
  QTemporaryDir dir;
  DeviceOptions o;
  o.ok_end = true;
  o.version_after_upgrade = "V2";
  o.restart = 500 * kMilli;
  o.image_path = dir.filePath(QStringLiteral("out.bin"));
  Rig rig(o);
  const Bytes image = TestImage(700, 45);
  const Bytes ok = FirmwareReply("OK");

  EXPECT_EQ(UploadByHand(rig, image, Sum32(image), 0).at(0).bytes, ok);
  const Bytes right_end = FirmwareEnd(static_cast<uint32_t>(image.size()), Sum32(image));
  EXPECT_EQ(rig.Serial(right_end).at(0).bytes, ok);                                 // the tool sends it again
  EXPECT_EQ(rig.Serial(FirmwareEnd(3, 99)).at(0).bytes, ok);                         // nor is a wrong one judged
  EXPECT_FALSE(QFile::exists(o.image_path));
  EXPECT_EQ(rig.counts.Get("fw.ends-not-judged"), 3u);
  EXPECT_EQ(rig.counts.Get("fw.images-accepted") + rig.counts.Get("fw.images-rejected"), 0u);
  // No image taken: no restart, no new version.
  EXPECT_EQ(rig.Serial(Command(0xE3), 1).at(0).bytes, Reply(0xE3, Text(kDefaultVersion)));
}

}  // namespace
}  // namespace velmora::sim
