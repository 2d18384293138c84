#include "widgets/log_find_bar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <utility>

#include "widgets/translation.h"

namespace velmora {

LogFindBar::LogFindBar(LogPane* pane) : QFrame(pane), pane_(pane) {
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(true);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 1, 2, 1);
  row->setSpacing(2);
  edit_ = new QLineEdit(this);
  edit_->setClearButtonEnabled(false);
  edit_->installEventFilter(this);
  not_found_ = new QLabel(this);
  not_found_->hide();
  auto button = [this](const QString& text) {
    auto* b = new QToolButton(this);
    b->setText(text);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
  };
  previous_ = button(QStringLiteral("\u25B2"));
  next_ = button(QStringLiteral("\u25BC"));
  close_ = button(QStringLiteral("\u2715"));
  const auto words = [this] {
    edit_->setPlaceholderText(tr("查找"));
    edit_->setAccessibleName(edit_->placeholderText());
    not_found_->setText(tr("未找到"));
    const std::pair<QToolButton*, const char*> names[] = {
        {previous_, QT_TR_NOOP("上一个 (Shift+F3)")},
        {next_, QT_TR_NOOP("下一个 (F3)")},
        {close_, QT_TR_NOOP("关闭 (Esc)")},
    };
    for (const auto& [b, name] : names) {
      b->setToolTip(tr(name));
      b->setAccessibleName(tr(name));
    }
  };
  words();
  OnLanguageChange(this, words);
  row->addWidget(edit_, 1);
  row->addWidget(not_found_);
  row->addWidget(previous_);
  row->addWidget(next_);
  row->addWidget(close_);
  connect(edit_, &QLineEdit::textEdited, this, [this](const QString& text) {
    pane_->SetHighlight(text);
    Search(LogPane::FindFrom::Here);
  });
  connect(previous_, &QToolButton::clicked, this, [this] { Search(LogPane::FindFrom::Previous); });
  connect(next_, &QToolButton::clicked, this, [this] { Search(LogPane::FindFrom::Next); });
  connect(close_, &QToolButton::clicked, pane_, &LogPane::HideFindBar);
}

bool LogFindBar::NothingFound() const { return !not_found_->isHidden(); }

void LogFindBar::Search(LogPane::FindFrom from) {
  const QString needle = edit_->text();
  pane_->SetHighlight(needle);
  const bool found = needle.isEmpty() || pane_->Find(needle, from);
  not_found_->setVisible(!found);
}

bool LogFindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool shift = key->modifiers() & Qt::ShiftModifier;
    switch (key->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_F3:
        Search(shift ? LogPane::FindFrom::Previous : LogPane::FindFrom::Next);
        return true;
      case Qt::Key_Escape:
        pane_->HideFindBar();
        return true;
      default:
        break;
    }
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace velmora
