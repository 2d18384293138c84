#include "records/ui/records_dialog.h"

#include <QHeaderView>
#include <QProxyStyle>
#include <QTableWidget>

#include "core/modal_ui.h"
#include "widgets/translation.h"
#include "records/record_columns.h"
#include "resources/records_layout.h"

namespace velmora {

namespace {

constexpr const char* kSheetName = "Sheet1";
constexpr const char* kWorkbookFilter = "Workbooks files (*.xlsx)|*.xlsx|All Files(*.*)|*.*|";
constexpr const char* kWorkbookSuffix = "xlsx";

// A row is activated by one click, not a double click.
class OneClickStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == SH_ItemView_ActivateItemOnSingleClick) return 1;
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
};

std::string Utf8(const QString& s) {
  const QByteArray b = s.toUtf8();
  return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

}  // namespace

RecordsDialog::RecordsDialog(ModalUi& modal, QWidget* parent, std::unique_ptr<IWorkbookExporter> exporter)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      modal_(modal),
      exporter_(exporter ? std::move(exporter) : std::make_unique<XlsxWorkbookExporter>()) {
  controls_ = BuildDialog(res::RecordDialog(), this);
  setFixedSize(size());
  list_ = controls_.As<QTableWidget>(res::kIdcRecordList);
  SetUpRecordList();

  // 1003 and 1004 stay enabled and do nothing: no record source stands behind them.
  BindClicks(controls_, this,
             ClickTable<RecordsDialog>{
                 {res::kIdcReadRecords, &RecordsDialog::OnReadRecords},
                 {res::kIdcClearRecords, &RecordsDialog::OnClearRecords},
                 {res::kIdcExportExcel, &RecordsDialog::ExportExcel},
             });
}

RecordsDialog::~RecordsDialog() = default;

void RecordsDialog::SetUpRecordList() {
  list_->setColumnCount(static_cast<int>(kRecordColumns.size()));
  for (int c = 0; c < list_->columnCount(); ++c) {
    const RecordColumn& col = kRecordColumns[static_cast<std::size_t>(c)];
    auto* title = new QTableWidgetItem(LayoutText(col.title));
    title->setTextAlignment(Qt::AlignCenter);
    list_->setHorizontalHeaderItem(c, title);
    list_->setColumnWidth(c, col.width);
  }
  // The workbook takes the titles shown, so it is written in the language on screen.
  OnLanguageChange(list_, [this] {
    for (int c = 0; c < list_->columnCount(); ++c) {
      list_->horizontalHeaderItem(c)->setText(LayoutText(kRecordColumns[static_cast<std::size_t>(c)].title));
    }
  });
  QHeaderView* header = list_->horizontalHeader();
  header->setDefaultAlignment(Qt::AlignCenter);
  header->setSectionsMovable(true);
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  list_->verticalHeader()->hide();  // a report list has no row headers

  list_->setShowGrid(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setWordWrap(false);
  list_->setTextElideMode(Qt::ElideRight);
  list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  // Hot tracking: the row under the mouse is highlighted.
  list_->setMouseTracking(true);
  list_->viewport()->setAttribute(Qt::WA_Hover);
  auto* style = new OneClickStyle;
  style->setParent(list_);
  list_->setStyle(style);
}

int RecordsDialog::AddRecord(const QStringList& cells) {
  const int row = list_->rowCount();
  list_->insertRow(row);
  const int n = std::min<int>(static_cast<int>(cells.size()), list_->columnCount());
  for (int c = 0; c < list_->columnCount(); ++c) {
    auto* item = new QTableWidgetItem(c < n ? cells[c] : QString());
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    list_->setItem(row, c, item);
  }
  return row;
}

int RecordsDialog::RecordCount() const { return list_->rowCount(); }

// Model columns, not the order the headers are shown in: a dragged header moves the
// column on screen only.
RecordTable RecordsDialog::CurrentTable() const {
  RecordTable table;
  const int columns = list_->columnCount();
  for (int c = 0; c < columns; ++c) {
    const QTableWidgetItem* title = list_->horizontalHeaderItem(c);
    table.titles.push_back(title ? Utf8(title->text()) : std::string());
  }
  table.rows.reserve(static_cast<std::size_t>(list_->rowCount()));
  for (int r = 0; r < list_->rowCount(); ++r) {
    std::vector<std::string> row;
    row.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      const QTableWidgetItem* cell = list_->item(r, c);
      row.push_back(cell ? Utf8(cell->text()) : std::string());
    }
    table.rows.push_back(std::move(row));
  }
  return table;
}

void RecordsDialog::ExportExcel() {
  const QString path = modal_.GetSaveFileName(QtFileFilter(QString::fromUtf8(kWorkbookFilter)),
                                              QString::fromLatin1(kWorkbookSuffix));
  if (path.isEmpty()) return;

  const int result = exporter_->Export(CurrentTable(), kSheetName, Utf8(path));
  // Only a confirmed save is reported as success.
  modal_.ShowMessage(result == kExportOk ? tr("导出Excel成功!") : tr("导出Excel失败,请检查Excel是否正常安装!"),
                     MessageButtons::Ok);
}

}  // namespace velmora
