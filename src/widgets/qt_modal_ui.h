#pragma once

#include <QPointer>
#include <QWidget>

#include "core/modal_ui.h"

namespace velmora {

// The real message boxes and file dialogs, owned by the main window.
class QtModalUi : public IModalUi {
 public:
  void SetParent(QWidget* parent) { parent_ = parent; }

  MessageAnswer ShowMessage(const QString& text, MessageButtons buttons) override;
  QString GetOpenFileName(const QString& filter) override;
  QString GetSaveFileName(const QString& filter, const QString& default_suffix) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace velmora
