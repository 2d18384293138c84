#pragma once
// The record dialog: a twelve-column Record list and its export to a workbook.
//
// The main window keeps one for its whole life (constructed with it, parent the main
// window). Nothing in the tool opens or fills it: a data source adds rows through
// AddRecord and shows it with show().

#include <QDialog>
#include <QStringList>

#include <memory>

#include "widgets/dialog_builder.h"
#include "records/workbook_export.h"

class QTableWidget;

namespace velmora {

class ModalUi;

class RecordsDialog : public QDialog {
  Q_OBJECT
 public:
  // `modal` asks for the file name and shows the result; it must outlive the dialog.
  // Without an exporter the dialog writes .xlsx files itself.
  explicit RecordsDialog(ModalUi& modal, QWidget* parent = nullptr,
                       std::unique_ptr<IWorkbookExporter> exporter = nullptr);
  ~RecordsDialog() override;

  // Appends one row; cells in column order (0 to 11). Missing cells stay empty, cells
  // beyond the twelfth are dropped. Returns the new row's index.
  int AddRecord(const QStringList& cells);
  int RecordCount() const;

  // What button 1022 does: asks where to save, writes the list, reports the result.
  // A cancelled save dialog ends it without a word.
  void ExportExcel();

  QTableWidget* RecordList() const { return list_; }
  const ControlMap& Controls() const { return controls_; }

 private:
  void SetUpRecordList();
  RecordTable CurrentTable() const;
  void OnReadRecords() {}
  void OnClearRecords() {}

  ModalUi& modal_;
  std::unique_ptr<IWorkbookExporter> exporter_;
  ControlMap controls_;
  QTableWidget* list_ = nullptr;
};

}  // namespace velmora
