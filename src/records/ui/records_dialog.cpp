#include "records/ui/records_dialog.h"

#include <QHeaderView>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QTableWidget>

#include "core/modal_ui.h"
#include "widgets/translation.h"
#include "records/record_columns.h"
#include "registry/device_register.h"
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

constexpr int kColumns = static_cast<int>(kRecordColumns.size());
constexpr int kAllColumns = kColumns + static_cast<int>(kRegisterColumns.size());

const RecordColumn& Column(int c) {
  return c < kColumns ? kRecordColumns[static_cast<std::size_t>(c)]
                      : kRegisterColumns[static_cast<std::size_t>(c - kColumns)];
}

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setTextAlignment(Qt::AlignCenter);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
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

  BindClicks(controls_, this,
             ClickTable<RecordsDialog>{
                 {res::kIdcReadRecords, &RecordsDialog::ReadRecords},
                 {res::kIdcClearRecords, &RecordsDialog::ClearRecords},
                 {res::kIdcExportExcel, &RecordsDialog::ExportExcel},
             });
}

RecordsDialog::~RecordsDialog() = default;

void RecordsDialog::SetUpRecordList() {
  SetColumns(kColumns);
  // The workbook takes the titles shown, so it is written in the language on screen.
  OnLanguageChange(list_, [this] {
    for (int c = 0; c < list_->columnCount(); ++c) list_->horizontalHeaderItem(c)->setText(LayoutText(Column(c).title));
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

void RecordsDialog::SetColumns(int count) {
  const int first = list_->columnCount();
  list_->setColumnCount(count);
  for (int c = first; c < count; ++c) {
    auto* title = new QTableWidgetItem(LayoutText(Column(c).title));
    title->setTextAlignment(Qt::AlignCenter);
    list_->setHorizontalHeaderItem(c, title);
    list_->setColumnWidth(c, Column(c).width);
  }
}

int RecordsDialog::AddRecord(const QStringList& cells) {
  const int row = list_->rowCount();
  list_->insertRow(row);
  const int n = std::min<int>(static_cast<int>(cells.size()), list_->columnCount());
  for (int c = 0; c < list_->columnCount(); ++c) list_->setItem(row, c, Cell(c < n ? cells[c] : QString()));
  return row;
}

void RecordsDialog::SetRegister(const QString& url) {
  register_url_ = url;
  read_only_told_ = false;
  SetColumns(kAllColumns);
}

QStringList RecordsDialog::CellsOf(const RegisterRow& r) {
  QStringList cells;
  cells.reserve(kAllColumns);
  for (int c = 0; c < kAllColumns; ++c) cells << QString();
  // Of the twelve, the register knows the address, the time, the firmware and the signal.
  cells[0] = r.address;
  cells[4] = r.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  cells[8] = r.firmware_version.value_or(QString());
  if (r.csq) cells[11] = QString::number(*r.csq);
  const QStringList rest{r.operation,
                         r.ok ? tr("成功") : tr("失败"),
                         r.station,
                         r.link,
                         r.mac.value_or(QString()),
                         r.local_ip.value_or(QString()),
                         r.product_key.value_or(QString()),
                         r.device_name.value_or(QString()),
                         r.error};
  for (int i = 0; i < rest.size(); ++i) cells[kColumns + i] = rest[i];
  return cells;
}

std::unique_ptr<DeviceRegister> RecordsDialog::OpenRegister() {
  QString error;
  auto reg = DeviceRegister::Open(register_url_, &error);
  if (!reg) modal_.ShowMessage(tr("设备记录无法打开:\n%1").arg(error), MessageButtons::Ok);
  return reg;
}

void RecordsDialog::ReadRecords() {
  if (register_url_.isEmpty()) return;
  // A connection for each press: one kept would go stale when a server restarts.
  const auto reg = OpenRegister();
  if (!reg) return;
  QString error;
  const auto rows = reg->Rows({}, kShownRows, &error);
  if (!rows) {
    modal_.ShowMessage(tr("读取记录失败:\n%1").arg(error), MessageButtons::Ok);
    return;
  }
  SetRows(*rows);
  if (reg->ReadOnly() && !read_only_told_) {
    read_only_told_ = true;
    modal_.ShowMessage(tr("设备记录只能读取, 不会再写入:\n%1").arg(reg->ReadOnlyReason()), MessageButtons::Ok);
  }
}

void RecordsDialog::ClearRecords() {
  if (register_url_.isEmpty()) return;
  if (modal_.ShowMessage(tr("清空全部设备记录吗? 清空后不能恢复."), MessageButtons::OkCancel) != MessageAnswer::Ok) return;
  const auto reg = OpenRegister();
  if (!reg) return;
  QString error;
  if (!reg->Clear(&error)) {
    modal_.ShowMessage(tr("清空记录失败:\n%1").arg(error), MessageButtons::Ok);
    return;
  }
  list_->setRowCount(0);
}

void RecordsDialog::SetRows(const std::vector<RegisterRow>& rows) {
  // One pass with the view asleep: ten thousand rows one repaint each would take seconds.
  list_->setUpdatesEnabled(false);
  list_->setRowCount(0);
  list_->setRowCount(static_cast<int>(rows.size()));
  {
    // The rows exist now; a signal for each cell filled in would only ask the sleeping
    // view to repaint what it repaints whole when it wakes.
    const QSignalBlocker quiet(list_->model());
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
      const QStringList cells = CellsOf(rows[static_cast<std::size_t>(r)]);
      // A cell the register has nothing for gets no item: a third of them, always empty.
      for (int c = 0; c < list_->columnCount() && c < cells.size(); ++c) {
        if (!cells[c].isEmpty()) list_->setItem(r, c, Cell(cells[c]));
      }
    }
  }
  list_->setUpdatesEnabled(true);
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
