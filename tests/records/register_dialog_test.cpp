// The record dialog on the device register, both engines: "读取记录" shows the newest
// rows first, the twelve columns filled where the register knows them and its further
// facts after them; "清空记录" asks first; the workbook takes every column shown; a
// register it cannot write or reach says so.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "records/ui/records_dialog.h"
#include "registry/device_register.h"
#include "support/fake_modal_ui.h"
#include "support/test_register.h"
#include "widgets/dialog_builder.h"

namespace velmora {
namespace {

using test::TestRegister;

class Exporter : public IWorkbookExporter {
 public:
  int Export(const RecordTable& t, const std::string&, const std::string&) override {
    table = t;
    return kExportOk;
  }
  RecordTable table;
};

RegisterRow Row(qint64 second, const QString& address, const QString& operation) {
  RegisterRow r;
  r.time = QDateTime::fromSecsSinceEpoch(1714550400 + second, Qt::UTC);
  r.station = "line-1";
  r.link = "udp";
  r.address = address;
  r.operation = operation;
  return r;
}

class RegisterDialog : public ::testing::TestWithParam<std::string> {
 protected:
  void Click(int id) { QTest::mouseClick(qobject_cast<QPushButton*>(FindControl(dlg_.get(), id)), Qt::LeftButton); }
  QString Cell(int row, int column) const {
    const QTableWidgetItem* item = dlg_->RecordList()->item(row, column);
    return item ? item->text() : QString();
  }

  test::FakeModalUi ui_;
  Exporter* exporter_ = new Exporter;
  std::unique_ptr<RecordsDialog> dlg_ = std::make_unique<RecordsDialog>(ui_, nullptr, std::unique_ptr<Exporter>(exporter_));
};

TEST_P(RegisterDialog, ReadShowsTheNewestRowsWithTheirFactsAndClearAsksFirst) {
  TestRegister reg;
  VELMORA_START_REGISTER(reg, GetParam());
  QString error;
  auto r = DeviceRegister::Open(reg.Url(), &error);
  ASSERT_TRUE(r) << error.toStdString();
  // One more than the list shows: the oldest stays out.
  std::vector<RegisterRow> rows;
  for (int i = 0; i <= RecordsDialog::kShownRows; ++i) rows.push_back(Row(i, QStringLiteral("10.0.0.%1").arg(i % 250), "csq"));
  RegisterRow full = Row(RecordsDialog::kShownRows + 1, "/dev/ttyUSB0", "apply");
  full.link = "/dev/ttyUSB0";
  full.firmware_version = "DTU V3.4";
  full.csq = 17;
  full.mac = "02:1A:2B:3C:4D:5E";
  full.local_ip = "192.168.1.100";
  full.product_key = "pk-line7";
  full.device_name = "unit-0042";
  full.ok = false;
  full.error = "write-mqtt: no answer";
  rows.push_back(full);
  ASSERT_TRUE(r->Add(rows, &error)) << error.toStdString();

  dlg_->SetRegister(reg.Url());
  ASSERT_EQ(dlg_->RecordList()->columnCount(), 21);
  EXPECT_EQ(dlg_->RecordList()->horizontalHeaderItem(12)->text(), QString::fromUtf8("操作"));
  Click(1003);
  EXPECT_TRUE(ui_.messages.isEmpty()) << ui_.messages.join('\n').toStdString();
  ASSERT_EQ(dlg_->RecordCount(), RecordsDialog::kShownRows);
  const QStringList expected{"/dev/ttyUSB0", "", "", "", full.time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss"),
                             "", "", "", "DTU V3.4", "", "", "17",
                             "apply", QString::fromUtf8("失败"), "line-1", "/dev/ttyUSB0", "02:1A:2B:3C:4D:5E",
                             "192.168.1.100", "pk-line7", "unit-0042", "write-mqtt: no answer"};
  for (int c = 0; c < expected.size(); ++c) EXPECT_EQ(Cell(0, c), expected[c]) << "column " << c;
  EXPECT_EQ(Cell(1, 0), QStringLiteral("10.0.0.%1").arg(RecordsDialog::kShownRows % 250));
  EXPECT_EQ(Cell(1, 13), QString::fromUtf8("成功"));
  EXPECT_EQ(Cell(RecordsDialog::kShownRows - 1, 4), Row(2, "", "").time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss"));

  // The workbook takes what the list shows, every column.
  ui_.file_answers.push_back("/tmp/unused.xlsx");
  Click(1022);
  ASSERT_EQ(exporter_->table.titles.size(), 21u);
  EXPECT_EQ(exporter_->table.rows.size(), std::size_t(RecordsDialog::kShownRows));
  EXPECT_EQ(exporter_->table.rows[0][18], "pk-line7");

  ui_.answer = MessageAnswer::Cancel;
  Click(1004);
  EXPECT_EQ(dlg_->RecordCount(), RecordsDialog::kShownRows);
  EXPECT_EQ(r->Count(&error), RecordsDialog::kShownRows + 2);
  ui_.answer = MessageAnswer::Ok;
  Click(1004);
  EXPECT_EQ(ui_.messages.size(), 3);  // the export's and the two questions
  EXPECT_EQ(dlg_->RecordCount(), 0);
  EXPECT_EQ(r->Count(&error), 0);
}

TEST_P(RegisterDialog, ANewerRegisterIsShownOnceToldAndNotCleared) {
  TestRegister reg;
  VELMORA_START_REGISTER(reg, GetParam());
  QString error;
  {
    auto r = DeviceRegister::Open(reg.Url(), &error);
    ASSERT_TRUE(r && r->Add(Row(1, "a", "version"), &error)) << error.toStdString();
  }
  reg.Exec("UPDATE velmora_schema SET version = 7");  // as a later Velmora would leave it

  dlg_->SetRegister(reg.Url());
  Click(1003);
  Click(1003);
  EXPECT_EQ(dlg_->RecordCount(), 1);
  ASSERT_EQ(ui_.messages.size(), 1);
  EXPECT_TRUE(ui_.messages[0].contains("version 7")) << ui_.messages[0].toStdString();
  Click(1004);
  EXPECT_EQ(dlg_->RecordCount(), 1);
  EXPECT_TRUE(ui_.messages.back().contains("read-only")) << ui_.messages.back().toStdString();
}

VELMORA_ON_BOTH_ENGINES(RegisterDialog);

TEST(RegisterDialogReach, AnUnreachableRegisterSaysSoAndLeavesTheList) {
  test::FakeModalUi ui;
  RecordsDialog dlg(ui);
  dlg.SetRegister("postgresql://nobody@%2Fnonexistent/none");
  dlg.AddRecord({"kept"});
  dlg.ReadRecords();
  ASSERT_EQ(ui.messages.size(), 1);
  EXPECT_TRUE(ui.messages[0].contains("/nonexistent")) << ui.messages[0].toStdString();
  EXPECT_EQ(dlg.RecordCount(), 1);
}

}  // namespace
}  // namespace velmora
