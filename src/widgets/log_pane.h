#pragma once

#include <QAbstractScrollArea>
#include <QByteArrayView>
#include <QFrame>
#include <QFont>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QElapsedTimer>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QToolButton;

namespace velmora {

class LogFindBar;

// A place in the log: line and UTF-16 column.
struct LogPos {
  qsizetype line = 0;
  qsizetype column = 0;
  friend auto operator<=>(const LogPos&, const LogPos&) = default;
};

// The log's text, lines kept as UTF-8 in large shared blocks, plus a small index entry
// per line: a whole shift of entries costs little more than its text. Lines are never
// split across blocks. An edited line is written anew and the old bytes left behind;
// when those outgrow the live text, everything is packed again.
class LogText {
 public:
  LogText();

  qsizetype LineCount() const { return static_cast<qsizetype>(lines_.size()); }
  QString Line(qsizetype i) const;
  // At most the first `most` UTF-16 units of line i.
  QString Line(qsizetype i, qsizetype most) const;
  qsizetype LineLength(qsizetype i) const { return lines_[static_cast<std::size_t>(i)].units; }
  // Line i as the UTF-8 bytes it is kept in; valid until the text changes.
  QByteArrayView LineBytes(qsizetype i) const;
  // UTF-16 units of the whole text, a line end counting one.
  qsizetype Size() const { return size_; }
  qsizetype LongestLine() const { return longest_; }
  qsizetype LongestLineIndex() const { return longest_line_; }
  LogPos End() const { return {LineCount() - 1, LineLength(LineCount() - 1)}; }

  // Appends at the very end; CR LF and a bare CR end a line as LF does.
  void Append(QStringView text);
  // Replaces [from, to) with `text` (LF ends a line) and returns the position behind it.
  LogPos Replace(LogPos from, LogPos to, QStringView text);
  QString Text(LogPos from, LogPos to) const;
  QString Text() const { return Text({0, 0}, End()); }
  void Clear();

  qsizetype Offset(LogPos p) const;
  LogPos PosAt(qsizetype offset) const;
  LogPos Clamp(LogPos p) const;

  // Heap bytes held: blocks and index.
  std::size_t Footprint() const;

 private:
  struct LineRef {
    std::uint32_t block;
    std::uint32_t offset;
    std::uint32_t bytes;
    std::uint32_t units;
  };
  LineRef Store(QStringView line);
  void Pack();

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<std::size_t> block_sizes_;
  std::size_t current_ = 0;  // the block short lines go to
  std::size_t used_ = 0;     // bytes used in it
  std::vector<LineRef> lines_;
  qsizetype size_ = 0;
  qsizetype longest_ = 0;
  qsizetype longest_line_ = 0;
  std::size_t stale_bytes_ = 0;
  std::size_t live_bytes_ = 0;
};

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
  void UpdateScrollBars();
  void MoveCaret(LogPos to, bool keep_anchor);
  void EnsureCaretVisible();
  LogPos PosAtPoint(QPoint viewport_point) const;
  qreal ColumnX(qsizetype line, qsizetype column) const;
  int LineHeight() const;
  void CaretMoved();
  void PlaceFindBar();

  LogText text_;
  QStringList pending_;
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
