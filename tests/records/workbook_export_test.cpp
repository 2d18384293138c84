#include "records/record_columns.h"
#include "records/workbook_export.h"
#include "read_workbook.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::ReadBack;
using test::ReadWorkbook;
using test::Ref;
using test::TitleRow;

std::string Repeat(std::string_view piece, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += piece;
  return s;
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

std::string Contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class WorkbookExport : public ::testing::Test {
 protected:
  int Export(const RecordTable& t, const fs::path& p, const std::string& sheet = "Sheet1") {
    return exporter_.Export(t, sheet, p.string());
  }
  fs::path Dir() const { return fs::path(dir_.path().toStdString()); }

  QTemporaryDir dir_;
  XlsxWorkbookExporter exporter_;
};

TEST(CellText, CutsAtCharactersNeverInsideOne) {
  EXPECT_EQ(CellText(std::string(120, 'x')), std::string(99, 'x'));
  EXPECT_EQ(CellText(std::string(99, 'x')), std::string(99, 'x'));
  EXPECT_EQ(CellText(Repeat("北", 120)), Repeat("北", 99));
  // A four-byte character straddling the limit is kept whole or dropped whole.
  EXPECT_EQ(CellText(std::string(98, 'x') + "😀😀"), std::string(98, 'x') + "😀");
  EXPECT_EQ(CellText("电压", 1), "电");
  EXPECT_EQ(CellText(""), "");
}

TEST(CellText, InvalidBytesBecomeOneReplacementEachAndCount) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(CellText("a\xFF" "b"), "a" + fffd + "b");
  EXPECT_EQ(CellText("\xE4\xB8"), fffd + fffd);          // truncated sequence
  EXPECT_EQ(CellText("\xC0\xAF"), fffd + fffd);          // overlong '/'
  EXPECT_EQ(CellText("\xED\xA0\x80"), Repeat(fffd, 3));  // surrogate
  EXPECT_EQ(CellText("\xF4\x90\x80\x80"), Repeat(fffd, 4));
  EXPECT_EQ(CellText(std::string(120, '\x80')), Repeat(fffd, 99));
  EXPECT_EQ(CellText(std::string("ab\0cd", 5)), "ab");
}

TEST_F(WorkbookExport, EmptyListGivesSheet1WithTheTwelveTitlesOnly) {
  const fs::path file = Dir() / "records.xlsx";
  IWorkbookExporter& exporter = exporter_;
  ASSERT_EQ(exporter.Export({RecordColumnTitles(), {}}, "Sheet1", file.string()), kExportOk);

  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(file, wb));
  EXPECT_EQ(wb.sheets, std::vector<std::string>{"Sheet1"});
  EXPECT_EQ(wb.cells, TitleRow());
  EXPECT_EQ(wb.cells["A1"], "设备地址");
  EXPECT_EQ(wb.cells["K1"], "DEV_ICCID");
  EXPECT_EQ(wb.cells["L1"], "信号强度");
}

TEST_F(WorkbookExport, RowsFollowTheTitleRowAsText) {
  RecordTable t{RecordColumnTitles(), {}};
  t.rows.push_back({"007", "3.30", "31.2304", "121.4737", "2024-05-01 08:00:00", "", "60", "5", "V1.2",
                    "DSN01", "89860012345678901234", "-71"});
  t.rows.push_back({"  <a&b>  ", "12"});  // shorter than the title row
  const fs::path file = Dir() / "records.xlsx";
  ASSERT_EQ(Export(t, file), kExportOk);

  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(file, wb));
  auto expected = TitleRow();
  for (std::size_t c = 0; c < t.rows[0].size(); ++c) {
    if (!t.rows[0][c].empty()) expected[Ref(char('A' + c), 2)] = t.rows[0][c];
  }
  expected["A3"] = "  <a&b>  ";
  expected["B3"] = "12";
  EXPECT_EQ(wb.cells, expected);
  // Digits stay text: a device address "007" must not become the number 7.
  for (const auto& [ref, type] : wb.types) EXPECT_EQ(type, "s") << ref;
}

TEST_F(WorkbookExport, TextsReachTheSheetCutTo99Characters) {
  RecordTable t{RecordColumnTitles(), {{std::string(120, 'A'), Repeat("东经", 60), "ab\xFF"}}};
  t.titles[0] = std::string(120, 'T');
  const fs::path file = Dir() / "long.xlsx";
  ASSERT_EQ(Export(t, file), kExportOk);

  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(file, wb));
  EXPECT_EQ(wb.cells["A1"], std::string(99, 'T'));
  EXPECT_EQ(wb.cells["A2"], std::string(99, 'A'));
  EXPECT_EQ(wb.cells["B2"], Repeat("东经", 49) + "东");
  // A stray byte would otherwise make the whole file unreadable.
  EXPECT_EQ(wb.cells["C2"], "ab\xEF\xBF\xBD");
}

TEST_F(WorkbookExport, ExistingFileIsReplacedAndNothingIsLeftBeside) {
  const fs::path file = Dir() / "records.xlsx";
  { std::ofstream(file) << "not a workbook"; }
  ASSERT_EQ(Export({RecordColumnTitles(), {{"1"}, {"2"}, {"3"}}}, file), kExportOk);
  ASSERT_EQ(Export({RecordColumnTitles(), {{"only"}}}, file), kExportOk);

  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(file, wb));
  auto expected = TitleRow();
  expected["A2"] = "only";
  EXPECT_EQ(wb.cells, expected);
  EXPECT_EQ(Entries(Dir()), std::vector<std::string>{"records.xlsx"});
}

TEST_F(WorkbookExport, ThroughALinkTheLinkedFileIsReplaced) {
  const fs::path real = Dir() / "real.xlsx";
  const fs::path link = Dir() / "link.xlsx";
  { std::ofstream(real) << "old"; }
  fs::create_symlink(real, link);
  ASSERT_EQ(Export({RecordColumnTitles(), {}}, link), kExportOk);
  EXPECT_TRUE(fs::is_symlink(link));
  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(real, wb));
  EXPECT_EQ(wb.cells, TitleRow());
}

// The dialog hands over UTF-8; a name outside ASCII reaches the disk byte for byte, and
// the temporary file beside it is named from it.
TEST_F(WorkbookExport, NonAsciiNamesAreWrittenAsGiven) {
  const fs::path dir = Dir() / "记录";
  fs::create_directory(dir);
  const fs::path file = dir / "导出 1.xlsx";
  { std::ofstream(file) << "old"; }
  ASSERT_EQ(Export({RecordColumnTitles(), {{"东经"}}}, file), kExportOk);
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"导出 1.xlsx"});
  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(file, wb));
  EXPECT_EQ(wb.cells["A2"], "东经");
}

// Paths that cannot be written even by root: a folder that does not exist, a path that
// names a folder, and a file under /proc.
TEST_F(WorkbookExport, UnwritablePathsFailAndCreateNothing) {
  const RecordTable t{RecordColumnTitles(), {{"1"}}};
  EXPECT_EQ(Export(t, Dir() / "missing" / "records.xlsx"), kExportFailed);
  EXPECT_FALSE(fs::exists(Dir() / "missing"));

  fs::create_directory(Dir() / "folder.xlsx");
  EXPECT_EQ(Export(t, Dir() / "folder.xlsx"), kExportFailed);
  EXPECT_TRUE(fs::is_directory(Dir() / "folder.xlsx"));
  EXPECT_TRUE(fs::is_empty(Dir() / "folder.xlsx"));

  EXPECT_EQ(Export(t, "/proc/velmora-records.xlsx"), kExportFailed);
  EXPECT_EQ(Export(t, ""), kExportFailed);

  EXPECT_EQ(Entries(Dir()), std::vector<std::string>{"folder.xlsx"});
}

TEST_F(WorkbookExport, ReadOnlyFileIsKept) {
  const fs::path file = Dir() / "locked.xlsx";
  { std::ofstream(file) << "keep me"; }
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(Export({RecordColumnTitles(), {}}, file), kExportFailed);
  EXPECT_EQ(Contents(file), "keep me");
  EXPECT_EQ(Entries(Dir()), std::vector<std::string>{"locked.xlsx"});
}

TEST_F(WorkbookExport, FailedExportLeavesThePreviousFileIntact) {
  const fs::path file = Dir() / "records.xlsx";
  ASSERT_EQ(Export({RecordColumnTitles(), {{"before"}}}, file), kExportOk);
  const std::string before = Contents(file);

  // More columns than a sheet has.
  EXPECT_EQ(Export({RecordColumnTitles(), {std::vector<std::string>(16385, "x")}}, file), kExportFailed);
  // Names a sheet cannot have.
  EXPECT_EQ(Export({RecordColumnTitles(), {}}, file, "a/b"), kExportFailed);
  EXPECT_EQ(Export({RecordColumnTitles(), {}}, file, ""), kExportFailed);

  EXPECT_EQ(Contents(file), before);
  EXPECT_EQ(Entries(Dir()), std::vector<std::string>{"records.xlsx"});
  ReadBack wb;
  ASSERT_TRUE(ReadWorkbook(file, wb));
  EXPECT_EQ(wb.cells["A2"], "before");
}

}  // namespace
}  // namespace velmora
