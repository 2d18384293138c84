#include "records/ui/records_dialog.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "widgets/dialog_builder.h"
#include "read_workbook.h"
#include "records/record_columns.h"
#include "support/fake_modal_ui.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::ReadBack;
using test::ReadWorkbook;
using test::Ref;
using test::TitleRow;

const QString kSuccess = QString::fromUtf8("导出Excel成功!");
const QString kFailure = QString::fromUtf8("导出Excel失败,请检查Excel是否正常安装!");

// Remembers what it was asked to write and answers with a chosen result.
class RecordingExporter : public IWorkbookExporter {
 public:
  explicit RecordingExporter(int result) : result_(result) {}
  int Export(const RecordTable& table, const std::string& sheet_name, const std::string& path) override {
    ++calls;
    last_table = table;
    last_sheet = sheet_name;
    last_path = path;
    return result_;
  }
  int calls = 0;
  RecordTable last_table;
  std::string last_sheet;
  std::string last_path;

 private:
  int result_;
};

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

QStringList FullRecord(const QString& tag) {
  QStringList cells;
  for (int c = 0; c < 12; ++c) cells << QStringLiteral("%1-%2").arg(tag).arg(c);
  return cells;
}

class RecordDialog : public ::testing::Test {
 protected:
  void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }
  QPushButton* Button(int id) { return qobject_cast<QPushButton*>(FindControl(&dlg_, id)); }
  QTableWidget* List() { return qobject_cast<QTableWidget*>(FindControl(&dlg_, 1051)); }
  fs::path Dir() const { return fs::path(dir_.path().toStdString()); }
  // Clicks 1022 and answers the save dialog with `path`.
  void ExportTo(const fs::path& path) {
    ui_.file_answers.push_back(QString::fromStdString(path.string()));
    Click(1022);
  }

  QTemporaryDir dir_;
  test::FakeModalUi ui_;
  RecordsDialog dlg_{ui_};
};

TEST_F(RecordDialog, RecordListHasTheTwelveColumnsAndNoRows) {
  EXPECT_EQ(dlg_.windowTitle(), QString::fromUtf8("SQL数据库:"));
  QTableWidget* list = List();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->columnCount(), 12);
  EXPECT_EQ(list->rowCount(), 0);
  for (int c = 0; c < 12; ++c) {
    SCOPED_TRACE(c);
    const auto& col = kRecordColumns[static_cast<std::size_t>(c)];
    EXPECT_EQ(list->horizontalHeaderItem(c)->text(), QString::fromUtf8(col.title));
    EXPECT_EQ(list->columnWidth(c), col.width);
    EXPECT_EQ(list->horizontalHeaderItem(c)->textAlignment(), int(Qt::AlignCenter));
  }
  EXPECT_TRUE(list->horizontalHeader()->sectionsMovable());
  EXPECT_TRUE(list->showGrid());
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(RecordDialog, ButtonsSitInsideTheGroupBoxAndNothingOverlaps) {
  const QRect client = dlg_.rect();
  auto* group = dlg_.findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), QString::fromUtf8("SQL数据库控制:"));
  EXPECT_TRUE(client.contains(group->geometry()));
  EXPECT_TRUE(client.contains(List()->geometry()));
  EXPECT_FALSE(group->geometry().intersects(List()->geometry()));

  const std::vector<std::pair<int, const char*>> buttons{{1003, "读取记录"}, {1004, "清空记录"}, {1022, "导出Excel"}};
  for (const auto& [id, caption] : buttons) {
    SCOPED_TRACE(id);
    QPushButton* b = Button(id);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->text(), QString::fromUtf8(caption));
    EXPECT_TRUE(b->isEnabled());
    EXPECT_TRUE(group->geometry().contains(b->geometry()));
    // The caption fits: nothing of it is cut off.
    EXPECT_GE(b->width(), b->fontMetrics().horizontalAdvance(b->text()));
    for (const auto& [other, unused] : buttons) {
      if (other != id) {
        EXPECT_FALSE(b->geometry().intersects(Button(other)->geometry())) << other;
      }
    }
  }
}

TEST_F(RecordDialog, ReadAndClearButtonsDoNothing) {
  dlg_.AddRecord(FullRecord("r"));
  Click(1003);
  Click(1004);
  EXPECT_EQ(dlg_.RecordCount(), 1);
  EXPECT_EQ(List()->item(0, 5)->text(), QStringLiteral("r-5"));
  EXPECT_TRUE(ui_.messages.isEmpty());
  EXPECT_TRUE(ui_.save_filters.isEmpty());
  EXPECT_TRUE(ui_.open_filters.isEmpty());
}

TEST_F(RecordDialog, AddRecordFillsShortRowsAndDropsCellsBeyondTheTwelfth) {
  EXPECT_EQ(dlg_.AddRecord({QStringLiteral("7"), QStringLiteral("3.3")}), 0);
  QStringList long_row = FullRecord("x");
  long_row << QStringLiteral("extra");
  EXPECT_EQ(dlg_.AddRecord(long_row), 1);
  QTableWidget* list = List();
  ASSERT_EQ(list->rowCount(), 2);
  EXPECT_EQ(list->item(0, 1)->text(), QStringLiteral("3.3"));
  EXPECT_EQ(list->item(0, 11)->text(), QString());
  EXPECT_EQ(list->item(1, 11)->text(), QStringLiteral("x-11"));
  EXPECT_EQ(list->item(1, 0)->textAlignment(), int(Qt::AlignCenter));
}

TEST_F(RecordDialog, CancelledSaveDialogEndsTheExportSilently) {
  auto exporter = std::make_unique<RecordingExporter>(kExportOk);
  RecordingExporter* spy = exporter.get();
  RecordsDialog dlg(ui_, nullptr, std::move(exporter));
  dlg.AddRecord(FullRecord("r"));
  ui_.file_answers.push_back({});
  QTest::mouseClick(qobject_cast<QPushButton*>(FindControl(&dlg, 1022)), Qt::LeftButton);
  ASSERT_EQ(ui_.save_filters.size(), 1);
  EXPECT_EQ(ui_.save_filters.front(), QStringLiteral("Workbooks files (*.xlsx);;All Files(*.*)"));
  EXPECT_EQ(ui_.save_suffixes.front(), QStringLiteral("xlsx"));
  EXPECT_EQ(spy->calls, 0);
  EXPECT_TRUE(ui_.messages.isEmpty());

  // And through the real writer: no file appears anywhere.
  ui_.file_answers.push_back({});
  Click(1022);
  EXPECT_TRUE(ui_.messages.isEmpty());
  EXPECT_TRUE(Entries(Dir()).empty());
}

TEST_F(RecordDialog, ExportWritesTitlesAndRowsThenReportsSuccess) {
  dlg_.AddRecord(FullRecord("a"));
  dlg_.AddRecord({QStringLiteral("007"), QString(QChar('x')).repeated(120), QString(), QStringLiteral("东经")});
  const fs::path file = Dir() / "记录.xlsx";
  ExportTo(file);

  ASSERT_EQ(ui_.messages, QStringList{kSuccess});
  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(file, wb));
  EXPECT_EQ(wb.sheets, std::vector<std::string>{"Sheet1"});
  auto expected = TitleRow();
  for (int c = 0; c < 12; ++c) expected[Ref(char('A' + c), 2)] = "a-" + std::to_string(c);
  expected["A3"] = "007";
  expected["B3"] = std::string(99, 'x');
  expected["D3"] = "东经";
  EXPECT_EQ(wb.cells, expected);
  EXPECT_EQ(wb.types["A3"], "s");
}

TEST_F(RecordDialog, DraggedHeadersDoNotChangeTheColumnOrderOfTheWorkbook) {
  dlg_.AddRecord(FullRecord("a"));
  QHeaderView* header = List()->horizontalHeader();
  header->moveSection(0, 11);  // "设备地址" dragged to the far right
  header->moveSection(9, 1);   // "DEV_ICCID" (now visual 9) dragged to the left
  ASSERT_NE(header->logicalIndex(0), 0);
  ASSERT_EQ(header->logicalIndex(11), 0);

  const fs::path file = Dir() / "moved.xlsx";
  ExportTo(file);
  ASSERT_EQ(ui_.messages, QStringList{kSuccess});
  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(file, wb));
  auto expected = TitleRow();
  for (int c = 0; c < 12; ++c) expected[Ref(char('A' + c), 2)] = "a-" + std::to_string(c);
  EXPECT_EQ(wb.cells, expected);
}

TEST_F(RecordDialog, UnwritablePathReportsFailureNeverSuccess) {
  dlg_.AddRecord(FullRecord("a"));
  fs::create_directory(Dir() / "folder.xlsx");
  const std::vector<fs::path> bad{Dir() / "missing" / "records.xlsx", Dir() / "folder.xlsx",
                                  "/proc/velmora-records.xlsx"};
  for (const fs::path& p : bad) ExportTo(p);
  EXPECT_EQ(ui_.messages, QStringList({kFailure, kFailure, kFailure}));
  EXPECT_EQ(Entries(Dir()), std::vector<std::string>{"folder.xlsx"});
  EXPECT_TRUE(fs::is_empty(Dir() / "folder.xlsx"));
}

TEST(RecordDialogExporter, ResultDecidesTheMessageAndOnlyZeroIsSuccess) {
  struct Case {
    int result;
    QString message;
  };
  for (const Case& c : {Case{kExportFailed, kFailure}, Case{-7, kFailure}, Case{1, kFailure}, Case{kExportOk, kSuccess}}) {
    SCOPED_TRACE(c.result);
    test::FakeModalUi ui;
    auto exporter = std::make_unique<RecordingExporter>(c.result);
    RecordingExporter* spy = exporter.get();
    RecordsDialog dlg(ui, nullptr, std::move(exporter));
    dlg.AddRecord({QStringLiteral("1"), QStringLiteral("北纬")});
    ui.file_answers.push_back(QString::fromUtf8("/tmp/数据/记录.xlsx"));
    dlg.ExportExcel();

    EXPECT_EQ(ui.messages, QStringList{c.message});
    ASSERT_EQ(spy->calls, 1);
    EXPECT_EQ(spy->last_sheet, "Sheet1");
    EXPECT_EQ(spy->last_path, "/tmp/数据/记录.xlsx");  // UTF-8, as the user chose it
    EXPECT_EQ(spy->last_table.titles, RecordColumnTitles());
    ASSERT_EQ(spy->last_table.rows.size(), 1u);
    EXPECT_EQ(spy->last_table.rows[0].size(), 12u);
    EXPECT_EQ(spy->last_table.rows[0][1], "北纬");
  }
}

}  // namespace
}  // namespace velmora
