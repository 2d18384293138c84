#pragma once

#include <QFrame>

#include "widgets/log_pane.h"

class QLabel;
class QLineEdit;
class QToolButton;

namespace velmora {

// The find bar: a needle, previous and next, and a word when nothing matches. Enter and
// F3 find the next match, Shift with either the previous, Escape closes the bar.
class LogFindBar : public QFrame {
  Q_OBJECT
 public:
  explicit LogFindBar(LogPane* pane);

  QLineEdit* Edit() const { return edit_; }
  bool NothingFound() const;
  void Search(LogPane::FindFrom from);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  LogPane* pane_;
  QLineEdit* edit_;
  QLabel* not_found_;
  QToolButton* previous_;
  QToolButton* next_;
  QToolButton* close_;
};

}  // namespace velmora
