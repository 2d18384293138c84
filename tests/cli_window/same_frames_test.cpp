// The window and the command line send the same bytes for the same form: the serial page
// and the network page against velmora-cli on the same profile, each frame caught where
// the device would read it.

#include "pages/page_harness.h"

#include <QTemporaryDir>

#include "config/config_defaults.h"
#include "profile/profile.h"
#include "profile/profile_writer.h"
#include "protocol/gbk.h"
#include "support/cli_process.h"
#include "support/udp_test_port.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::CliProcess;
using test::CliRun;

// Hex text, so a failure shows where the frames part.
std::string Hex(const Bytes& b) {
  return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size())).toHex(' ').toStdString();
}

constexpr std::size_t kWriteFrameSize = kConfigRecordSize + 5 + 1;  // F5 80 code N record sum 0D

class CliSameFrames : public ::testing::Test, public test::PageHarness {
 protected:
  QTemporaryDir dir;
  Profile profile;
  QString path;

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    profile = TemplateProfile();
    profile.mqtt.reset();
    ConfigForm& c = *profile.config;
    c.local_ip = {192, 168, 9, 20};
    c.domain = ToGbk(QString::fromUtf8("现场二.example.net"));
    c.net_mode = 2;
    c.uart_baud = 5;
    c.hex = true;
    c.heartbeat = "A1B2C3";
    c.mac = "02:AA:BB:CC:DD:EE";
    path = dir.filePath(QStringLiteral("site.json"));
    QString error;
    ASSERT_TRUE(WriteProfileFile(path, profile, &error)) << error.toStdString();
  }

  // The command line's frame: it writes and waits; nobody answers, so it times out.
  template <class Catch>
  Bytes CliFrame(const QStringList& link, Catch catch_frame) {
    CliProcess cli;
    EXPECT_TRUE(cli.Start(link + QStringList{QStringLiteral("--timeout"), QStringLiteral("2000"),
                                            QStringLiteral("write-config"), path}));
    Bytes frame = catch_frame();
    const CliRun r = cli.Finish();
    EXPECT_EQ(r.status, 1) << r;
    return frame;
  }
};

TEST_F(CliSameFrames, SerialPageAndCommandLineSendTheSameWriteFrame) {
  auto& t = *this;
  test::PtyPair window_line;
  ASSERT_TRUE(window_line.Ok());
  t.TypeInList(t.Serial(), 1000, window_line.SlavePath());
  t.Click(t.Serial(), 1003);
  ASSERT_TRUE(t.serial.IsOpen());
  // Loaded as the profile menu loads it: the controls show it, their rules apply.
  t.Serial().ShowSavedForm(*t.profile.config);
  t.Click(t.Serial(), res::kIdcWriteConfig);
  const Bytes from_window = window_line.ReadMaster(kWriteFrameSize, 3s);
  ASSERT_EQ(from_window.size(), kWriteFrameSize);

  test::PtyPair cli_line;
  ASSERT_TRUE(cli_line.Ok());
  const Bytes from_cli = t.CliFrame({QStringLiteral("--serial"), cli_line.SlavePath()},
                                    [&] { return cli_line.ReadMaster(kWriteFrameSize, 10s); });
  EXPECT_EQ(Hex(from_cli), Hex(from_window));
  t.serial.Close();
}

TEST_F(CliSameFrames, NetworkPageAndCommandLineSendTheSameWriteFrame) {
  auto& t = *this;
  test::UdpDevice device(t.udp_device_port);
  ASSERT_TRUE(device.Bound());
  t.TypeAddress(t.Network(), 1016, QStringLiteral("127.0.0.1"));
  t.Click(t.Network(), 1003);
  ASSERT_TRUE(t.udp.IsOpen());
  t.Network().ShowSavedForm(*t.profile.config);
  t.Click(t.Network(), res::kIdcWriteConfig);
  const Bytes from_window = device.Receive();
  ASSERT_EQ(from_window.size(), kWriteFrameSize);

  const Bytes from_cli = t.CliFrame({QStringLiteral("--udp"), QStringLiteral("127.0.0.1"), QStringLiteral("--device-port"),
                                     QString::number(t.udp_device_port), QStringLiteral("--local-port"),
                                     QString::number(test::FreeUdpPort())},
                                    [&] { return device.Receive(10s); });
  EXPECT_EQ(Hex(from_cli), Hex(from_window));
}

}  // namespace
}  // namespace velmora
