#pragma once
// The record dialog: a twelve-column Record list, filled from the device register, and
// its export to a workbook.
//
// The main window keeps one for its whole life (constructed with it, parent the main
// window) and shows it from its tools menu. Once given a register, "读取记录" fills the
// list with the register's newest rows, the register's further facts in columns after
// the twelve, and "清空记录" empties the register; without one both do nothing.

#include <QDialog>
#include <QStringList>

#include <memory>

#include "widgets/dialog_builder.h"
#include "records/workbook_export.h"
#include "registry/register_row.h"

class QTableWidget;

namespace velmora {

class DeviceRegister;
class ModalUi;

class RecordsDialog : public QDialog {
  Q_OBJECT
 public:
  // `modal` asks for the file name and shows the result; it must outlive the dialog.
  // Without an exporter the dialog writes .xlsx files itself.
  explicit RecordsDialog(ModalUi& modal, QWidget* parent = nullptr,
                       std::unique_ptr<IWorkbookExporter> exporter = nullptr);
  ~RecordsDialog() override;

  // The most rows "读取记录" shows: the newest.
  static constexpr int kShownRows = 10000;

  // Appends one row; cells in column order (0 to 11, then the register's). Missing cells
  // stay empty, cells beyond the last column are dropped. Returns the new row's index.
  int AddRecord(const QStringList& cells);
  int RecordCount() const;

  // The register the two buttons work on (see register_url.h); adds its columns after
  // the twelve.
  void SetRegister(const QString& url);
  // 1003: the list holds the newest kShownRows rows of the register, newest first. A
  // register that cannot be read says so in a message box and leaves the list as it was.
  void ReadRecords();
  // 1004: asks, then empties the register and the list.
  void ClearRecords();
  // The cells a register row shows: the twelve columns, then the register's.
  static QStringList CellsOf(const RegisterRow& row);

  // What button 1022 does: asks where to save, writes the list, reports the result.
  // A cancelled save dialog ends it without a word.
  void ExportExcel();

  QTableWidget* RecordList() const { return list_; }
  const ControlMap& Controls() const { return controls_; }

 private:
  void SetUpRecordList();
  // Columns up to `count`: the twelve, then the register's.
  void SetColumns(int count);
  RecordTable CurrentTable() const;
  // The register opened, or null with a message box saying why.
  std::unique_ptr<DeviceRegister> OpenRegister();
  void SetRows(const std::vector<RegisterRow>& rows);

  ModalUi& modal_;
  std::unique_ptr<IWorkbookExporter> exporter_;
  ControlMap controls_;
  QTableWidget* list_ = nullptr;
  QString register_url_;
  bool read_only_told_ = false;
};

}  // namespace velmora
