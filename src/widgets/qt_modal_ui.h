#pragma once

#include <QHash>
#include <QPointer>
#include <QWidget>

#include "core/modal_ui.h"

namespace velmora {

// The real message boxes and file dialogs, owned by the main window.
class QtModalUi : public ModalUi {
 public:
  void SetParent(QWidget* parent) { parent_ = parent; }

  MessageAnswer ShowMessage(const QString& text, MessageButtons buttons) override;
  QString GetOpenFileName(const QString& filter, const QString& start) override;
  QString GetSaveFileName(const QString& filter, const QString& default_suffix) override;

  // Where the open dialog for `filter` starts: the folder of the last file chosen with
  // it, so firmware and profiles each keep their own.
  QString StartFolder(const QString& filter) const { return folders_.value(filter); }
  void SetStartFolder(const QString& filter, const QString& folder) { folders_.insert(filter, folder); }

 private:
  QPointer<QWidget> parent_;
  QHash<QString, QString> folders_;
};

}  // namespace velmora
