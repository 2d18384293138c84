#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "widgets/log_text.h"

namespace velmora {

class LogFindBar;

// The Log pane: entries always go to the very end, whatever the engineer selected or
// typed, and the view follows them. Never trimmed. An entry after a pause shows at once;
// entries that stream in are shown together, at most once per flush interval (a repaint
// of the window costs the user-interface thread a fraction of a millisecond that a
// firmware upload waits for). Only the lines on screen are laid out and painted, so a
// long or busy log stays fast. The engineer can select (mouse, keyboard, select all), copy
// across the whole log and type notes into it, and find text in it (Ctrl+F, F3, Shift+F3).
class LogPane : public QAbstractScrollArea {
  Q_OBJECT
 public:
  static constexpr int kFlushIntervalMs = 40;

  explicit LogPane(QWidget* parent = nullptr);
  ~LogPane() override;

  void AppendEntry(const QString& text);
  // Shows entries still waiting now.
  void Flush();
  // Empties the pane, including entries not yet shown.
  void ClearAll();
  // Everything logged and typed so far, waiting entries included.
  QString AllText();
  // What the pane shows: entries still waiting are not in it.
  QString toPlainText() const { return text_.Text(); }
  const LogText& Text() const { return text_; }

  // Caret and selection as offsets into toPlainText().
  qsizetype CaretPosition() const { return text_.Offset(caret_); }
  qsizetype AnchorPosition() const { return text_.Offset(anchor_); }
  void SetCaret(qsizetype position) { Select(position, position); }
  void Select(qsizetype anchor, qsizetype position);
  QString SelectedText() const;
  void InsertText(const QString& text);

  enum class FindFrom { Here, Next, Previous };
  // Selects a match of `needle`, in any letter case, and brings it into view: from the
  // selection's start (Here, so a needle typed longer keeps its match), after it (Next) or
  // before it (Previous), wrapping round the log. False when the log holds none.
  bool Find(const QString& needle, FindFrom from);
  // Every match of `needle` on screen is marked; empty marks none.
  void SetHighlight(const QString& needle);
  // The find bar sits at the foot of the pane, inside its rectangle.
  void ShowFindBar();
  void HideFindBar();
  LogFindBar* FindBar() const { return find_bar_; }

 public slots:
  void Copy();
  void SelectAll();
  void ScrollToNewest();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery q) const override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  friend class LogPaneAccessible;
  // Between the viewport's edges and the text, in pixels.
  static constexpr int kMargin = 4;
  void UpdateScrollBars();
  void MoveCaret(LogPos to, bool keep_anchor);
  void EnsureCaretVisible();
  LogPos PosAtPoint(QPoint viewport_point) const;
  qreal ColumnX(qsizetype line, qsizetype column) const;
  int LineHeight() const;
  void CaretMoved();
  void PlaceFindBar();

  LogText text_;  // entries waiting to be shown are staged in it
  QTimer flush_timer_;
  QElapsedTimer last_flush_;
  LogPos caret_;
  LogPos anchor_;
  qreal Advance(char16_t c) const;

  QFont advances_font_;
  mutable QHash<char16_t, qreal> advances_;
  qreal ascii_advance_[128] = {};
  qreal narrowest_ = 1;
  int measured_width_ = 0;       // pixel width of the longest line, by length, when measured
  qsizetype measured_units_ = -1;
  QString highlight_;
  LogFindBar* find_bar_ = nullptr;
};

}  // namespace velmora
