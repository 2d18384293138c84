// The window's contacts in the device register, both engines: every reply from a loopback
// device that tells something, and an upgrade through the dialog, is one row with the
// sender's address and the facts (never the MQTT secret); the tools menu opens the record
// dialog, which shows them; a register that cannot be written costs one Log line.

#include <gtest/gtest.h>

#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/contact_recorder.h"
#include "config/config_defaults.h"
#include "fota/ui/firmware_dialog.h"
#include "mqtt/mqtt_record.h"
#include "page_harness.h"
#include "records/ui/records_dialog.h"
#include "registry/device_register.h"
#include "support/test_register.h"

namespace velmora {
namespace {

using test::Bytes;
using test::Reply;
using test::TestRegister;

constexpr const char* kSecret = "9f3c51d07ab24e6c8d1e52f0a7b3c964";

QString U(const char* s) { return QString::fromUtf8(s); }

class WindowRegister : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(udp.Bound());
    app.OpenNetworkOnLoopback();
  }
  // Asks as a page does when it sends the command, then sends the device's reply and
  // waits until the pump has handed it over.
  void Deliver(const Bytes& frame) {
    app.window->AwaitAnswer(Link::Udp, frame[2], QStringLiteral("test"));
    Unasked(frame);
  }
  void Unasked(const Bytes& frame) {
    const int logged = app.CountLines(U("UDP接收:"));
    udp.Send(frame, app.udp_local_port);
    ASSERT_TRUE(test::WaitUntil([&] { return app.CountLines(U("UDP接收:")) == logged + 1; }));
  }
  std::vector<RegisterRow> Rows(const QString& url) {
    app.window->Contacts().Flush();
    QString error;
    auto r = DeviceRegister::Open(url, &error);
    EXPECT_TRUE(r) << error.toStdString();
    return r ? r->Rows({}, -1, &error).value_or(std::vector<RegisterRow>{}) : std::vector<RegisterRow>{};
  }

  test::PageHarness app;
  test::UdpDevice udp{app.udp_device_port};
};

TEST_P(WindowRegister, EveryContactThatTellsSomethingIsARowTheRecordDialogShows) {
  TestRegister reg;
  VELMORA_START_REGISTER(reg, GetParam());
  app.window->SetRegister(reg.Url());

  Deliver(Reply(0xE3, test::Text("DTU V3.4")));
  // A reply nobody asked for, or the same device answering one question twice, is
  // shown as ever but makes no row: a repeating device must not fill the register.
  Unasked(Reply(0xE3, test::Text("DTU V3.4")));
  Deliver(Reply(0xEB, {17}));
  Unasked(Reply(0xEB, {17}));
  Deliver(Reply(0xEC, {0x24, 0x05, 0x01, 0x08, 0x00, 0x00}));  // the clock tells nothing about the unit
  ConfigForm form = DefaultConfigForm();
  form.mac = "02:1A:2B:3C:4D:5E";
  const ConfigRecord config = EncodeConfig(form);
  Deliver(Reply(0xE2, Bytes(config.begin(), config.end())));
  const MqttRecordBytes mqtt = EncodeMqtt(MqttCredentials{0, "pk-line7", "unit-0042", kSecret});
  Deliver(Reply(0xE6, Bytes(mqtt.begin(), mqtt.end())));

  // An upgrade through the dialog, over the same link: one data frame, then the end.
  QTemporaryDir dir;
  ASSERT_TRUE(test::WriteBytes(dir.filePath("fw.bin"), test::TestImage(500)));
  app.Click(app.Network(), 1037);
  FirmwareDialog* fota = app.window->Firmware();
  ASSERT_NE(fota, nullptr);
  app.modal.file_answers.push_back(dir.filePath("fw.bin"));
  qobject_cast<QPushButton*>(FindControl(fota, 1003))->click();
  qobject_cast<QPushButton*>(FindControl(fota, 1019))->click();
  for (const char* answer : {"OK", "YES"}) {
    ASSERT_FALSE(udp.Receive().empty());
    udp.Send(test::FirmwareReply(answer));
  }
  ASSERT_TRUE(test::WaitUntil([&] { return app.modal.messages.contains(U("升级成功，等待从新启动")); }));

  const auto rows = Rows(reg.Url());
  ASSERT_EQ(rows.size(), 5u);
  const QString address = QStringLiteral("127.0.0.1:%1").arg(app.udp_device_port);
  for (const RegisterRow& r : rows) {
    EXPECT_EQ(r.address, address);
    EXPECT_EQ(r.link, "udp");
    EXPECT_TRUE(r.ok);
    for (const auto& v : {r.firmware_version, r.mac, r.local_ip, r.product_key, r.device_name}) EXPECT_NE(v, kSecret);
  }
  EXPECT_EQ(rows[0].operation, "upgrade");
  EXPECT_EQ(rows[1].operation, "write-mqtt");
  EXPECT_EQ(rows[1].product_key, "pk-line7");
  EXPECT_EQ(rows[1].device_name, "unit-0042");
  EXPECT_EQ(rows[2].operation, "read-config");
  EXPECT_EQ(rows[2].mac, "02:1A:2B:3C:4D:5E");
  EXPECT_EQ(rows[2].local_ip, "192.168.1.100");
  EXPECT_EQ(rows[3].csq, 17);
  EXPECT_EQ(rows[4].firmware_version, "DTU V3.4");

  // The tools menu shows the dialog beside the window, which stays usable.
  QToolButton* tools = app.window->ToolsButton();
  QAction* entry = test::MenuItem(tools->menu(), U("设备记录..."));
  ASSERT_NE(entry, nullptr);
  entry->trigger();
  RecordsDialog* records = app.window->Records();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(records));
  EXPECT_FALSE(records->isModal());
  QTest::mouseClick(qobject_cast<QPushButton*>(FindControl(records, 1003)), Qt::LeftButton);
  ASSERT_EQ(records->RecordCount(), 5);
  EXPECT_EQ(records->RecordList()->item(0, 12)->text(), "upgrade");
  EXPECT_EQ(records->RecordList()->item(4, 8)->text(), "DTU V3.4");
}

// SQLite: a read-only file. PostgreSQL: the server stopped.
TEST_P(WindowRegister, ARegisterThatCannotBeWrittenCostsOneLogLineAndNothingElse) {
  TestRegister reg;
  VELMORA_START_REGISTER(reg, GetParam());
  QString error;
  ASSERT_TRUE(DeviceRegister::Open(reg.Url(), &error)) << error.toStdString();
  if (reg.IsSqlite()) {
    ASSERT_TRUE(QFile::setPermissions(reg.SqlitePath(), QFile::ReadOwner));
  } else {
    ASSERT_TRUE(reg.Server()->Stop());
  }
  app.window->SetRegister(reg.Url());
  Deliver(Reply(0xE3, test::Text("DTU V3.4")));
  app.window->Contacts().Flush();
  ASSERT_TRUE(test::WaitUntil([&] { return app.CountLines(U("[记录]:")) == 1; }));
  QTest::qWait(50);
  const QStringList lines = app.LogLines();
  EXPECT_EQ(app.CountLines(U("[记录]:")), 1);
  // The page did its part as ever: the version is in the Log and the status says so.
  EXPECT_TRUE(lines.contains("DTU V3.4"));
  EXPECT_EQ(app.window->StatusText(), "Successful!");
}

VELMORA_ON_BOTH_ENGINES(WindowRegister);

}  // namespace
}  // namespace velmora
