#include "widgets/qt_modal_ui.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace velmora {

MessageAnswer QtModalUi::ShowMessage(const QString& text, MessageButtons buttons) {
  QMessageBox box(parent_ ? parent_.data() : nullptr);
  box.setWindowTitle(QApplication::applicationDisplayName());
  box.setText(text);
  box.setIcon(QMessageBox::Information);
  if (buttons == MessageButtons::OkCancel) {
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

QString QtModalUi::GetOpenFileName(const QString& filter, const QString& start) {
  QString from = StartFolder(filter);
  if (!start.trimmed().isEmpty()) {
    const QFileInfo typed(start.trimmed());
    // A file that is there is selected; a name that is not, in a folder that is, opens the folder.
    if (typed.exists()) {
      from = typed.absoluteFilePath();
    } else if (typed.absoluteDir().exists()) {
      from = typed.absolutePath();
    }
  }
  const QString chosen = QFileDialog::getOpenFileName(parent_, QString(), from, filter);
  if (!chosen.isEmpty()) SetStartFolder(filter, QFileInfo(chosen).absolutePath());
  return chosen;
}

QString QtModalUi::GetSaveFileName(const QString& filter, const QString& default_suffix) {
  QFileDialog dlg(parent_, QString(), QString(), filter);
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setOption(QFileDialog::DontConfirmOverwrite);
  dlg.setDefaultSuffix(default_suffix);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  return dlg.selectedFiles().front();
}

}  // namespace velmora
