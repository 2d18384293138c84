#include "widgets/log_pane.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <optional>
#include <climits>
#include <cmath>

#include "widgets/log_find_bar.h"
#include "widgets/log_pane_accessible.h"

namespace velmora {

namespace {

bool Typeable(const QString& text) {
  if (text.isEmpty()) return false;
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c == u'\t' || (c.unicode() >= 0x20 && c.unicode() != 0x7F); });
}

void LayOut(QTextLayout& layout, const QFont& font) {
  layout.setFont(font);
  QTextOption option;
  option.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(option);
  layout.setCacheEnabled(false);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  if (line.isValid()) line.setLineWidth(1e7);
  layout.endLayout();
}

}  // namespace

LogPane::LogPane(QWidget* parent) : QAbstractScrollArea(parent) {
  static const bool factory = [] {
    QAccessible::installFactory(LogPaneAccessibleFactory);
    return true;
  }();
  (void)factory;
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  viewport()->setCursor(Qt::IBeamCursor);
  horizontalScrollBar()->setSingleStep(20);
  flush_timer_.setSingleShot(true);
  connect(&flush_timer_, &QTimer::timeout, this, &LogPane::Flush);
  UpdateScrollBars();
}

LogPane::~LogPane() = default;

bool LogPane::Find(const QString& needle, FindFrom from) {
  Flush();
  if (needle.isEmpty()) return false;
  const LogPos start = from == FindFrom::Next ? std::max(anchor_, caret_) : std::min(anchor_, caret_);
  const std::optional<LogPos> at = text_.Find(needle, start, from == FindFrom::Previous);
  if (!at) return false;
  anchor_ = *at;
  MoveCaret({at->line, at->column + needle.size()}, true);
  return true;
}

void LogPane::SetHighlight(const QString& needle) {
  if (highlight_ == needle) return;
  highlight_ = needle;
  viewport()->update();
}

void LogPane::ShowFindBar() {
  if (!find_bar_) find_bar_ = new LogFindBar(this);
  // A single-line selection is what the engineer most likely looks for.
  const QString selected = SelectedText();
  if (!selected.isEmpty() && !selected.contains(QLatin1Char('\n'))) find_bar_->Edit()->setText(selected);
  setViewportMargins(0, 0, 0, find_bar_->sizeHint().height());
  PlaceFindBar();
  find_bar_->show();
  SetHighlight(find_bar_->Edit()->text());
  find_bar_->Edit()->selectAll();
  find_bar_->Edit()->setFocus(Qt::ShortcutFocusReason);
}

void LogPane::HideFindBar() {
  if (!find_bar_ || find_bar_->isHidden()) return;
  find_bar_->hide();
  setViewportMargins(0, 0, 0, 0);
  SetHighlight({});
  UpdateScrollBars();
  setFocus(Qt::OtherFocusReason);
}

void LogPane::PlaceFindBar() {
  if (!find_bar_) return;
  const QRect view = viewport()->geometry();
  find_bar_->setGeometry(view.left(), view.bottom() + 1, view.width(), find_bar_->sizeHint().height());
  UpdateScrollBars();
}

void LogPane::AppendEntry(const QString& text) {
  text_.Stage(text);
  if (flush_timer_.isActive()) return;
  // An entry after a pause shows at once; a stream shows at most once per interval.
  const qint64 since = last_flush_.isValid() ? last_flush_.elapsed() : kFlushIntervalMs;
  flush_timer_.start(static_cast<int>(std::max<qint64>(0, kFlushIntervalMs - since)));
}

void LogPane::Flush() {
  flush_timer_.stop();
  if (!text_.HasStaged()) return;
  last_flush_.start();
  const qsizetype before = text_.Size();
  text_.Commit();
  UpdateScrollBars();
  ScrollToNewest();
  viewport()->update();
  if (QAccessible::isActive()) {
    QAccessibleTextInsertEvent event(this, static_cast<int>(before), text_.Text(text_.PosAt(before), text_.End()));
    QAccessible::updateAccessibility(&event);
  }
}

void LogPane::ClearAll() {
  flush_timer_.stop();
  text_.Clear();
  caret_ = anchor_ = {};
  measured_units_ = -1;
  measured_width_ = 0;
  UpdateScrollBars();
  viewport()->update();
  if (QAccessible::isActive()) {
    QAccessibleEvent event(this, QAccessible::TextUpdated);
    QAccessible::updateAccessibility(&event);
  }
}

QString LogPane::AllText() {
  Flush();
  return toPlainText();
}

void LogPane::Select(qsizetype anchor, qsizetype position) {
  anchor_ = text_.PosAt(anchor);
  MoveCaret(text_.PosAt(position), true);
}

QString LogPane::SelectedText() const { return text_.Text(anchor_, caret_); }

void LogPane::InsertText(const QString& text) {
  if (text.isEmpty() && anchor_ == caret_) return;
  caret_ = anchor_ = text_.Replace(anchor_, caret_, text);
  UpdateScrollBars();
  EnsureCaretVisible();
  viewport()->update();
  if (QAccessible::isActive()) {
    QAccessibleEvent event(this, QAccessible::TextUpdated);
    QAccessible::updateAccessibility(&event);
  }
  CaretMoved();
}

void LogPane::Copy() {
  if (anchor_ == caret_) return;
  QApplication::clipboard()->setText(SelectedText());
}

void LogPane::SelectAll() {
  anchor_ = {0, 0};
  caret_ = text_.End();
  viewport()->update();
  CaretMoved();
}

void LogPane::ScrollToNewest() { verticalScrollBar()->setValue(verticalScrollBar()->maximum()); }

int LogPane::LineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

void LogPane::UpdateScrollBars() {
  const int visible = std::max(1, (viewport()->height() - kMargin) / LineHeight());
  QScrollBar* v = verticalScrollBar();
  v->setPageStep(visible);
  v->setRange(0, static_cast<int>(std::clamp<qsizetype>(text_.LineCount() - visible, 0, INT_MAX)));
  if (measured_units_ != text_.LongestLine()) {
    measured_units_ = text_.LongestLine();
    if (text_.LongestLineIndex() < text_.LineCount()) {
      const int w = fontMetrics().horizontalAdvance(text_.Line(text_.LongestLineIndex()));
      measured_width_ = std::max(measured_width_, w);
    }
  }
  QScrollBar* h = horizontalScrollBar();
  const int view_width = viewport()->width();
  h->setPageStep(std::max(1, view_width));
  h->setRange(0, std::max(0, measured_width_ + 2 * kMargin - view_width));
}

void LogPane::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  UpdateScrollBars();
  if (find_bar_ && find_bar_->isVisible()) PlaceFindBar();
}

void LogPane::changeEvent(QEvent* e) {
  QAbstractScrollArea::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    measured_units_ = -1;
    measured_width_ = 0;
    UpdateScrollBars();
    viewport()->update();
  }
}

qreal LogPane::Advance(char16_t c) const {
  if (c < 128) return ascii_advance_[c];
  if (QChar::isSurrogate(c)) return narrowest_;
  auto it = advances_.constFind(c);
  if (it == advances_.constEnd()) it = advances_.insert(c, QFontMetricsF(font()).horizontalAdvance(QChar(c)));
  return *it;
}

void LogPane::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int lh = LineHeight();
  const int first = verticalScrollBar()->value();
  const int hoff = horizontalScrollBar()->value();
  const int width = viewport()->width();
  const int need = hoff + width;  // pixels of each line that can be on screen
  if (advances_font_ != font()) {
    advances_font_ = font();
    advances_.clear();
    const QFontMetricsF fm(font());
    narrowest_ = 1e9;
    for (int c = 0; c < 128; ++c) {
      ascii_advance_[c] = c < 0x20 ? 0 : fm.horizontalAdvance(QLatin1Char(static_cast<char>(c)));
      if (c >= 0x20 && c != 0x7F) narrowest_ = std::min(narrowest_, ascii_advance_[c]);
    }
    narrowest_ = std::max<qreal>(0.5, narrowest_ / 2);
  }
  const int ascent = fontMetrics().ascent();
  const QPalette& pal = palette();
  painter.setPen(pal.text().color());
  painter.setFont(font());
  const LogPos sel_from = std::min(anchor_, caret_);
  const LogPos sel_to = std::max(anchor_, caret_);
  const bool caret_shown = hasFocus();
  // At most this many characters of a line can be on screen.
  const auto most = static_cast<qsizetype>(need / narrowest_) + 16;
  qreal widest = 0;
  for (qsizetype i = first; i < text_.LineCount(); ++i) {
    const int y = kMargin + static_cast<int>(i - first) * lh;
    if (y > viewport()->height()) break;
    const qsizetype length = text_.LineLength(i);
    QString line = text_.Line(i, most);
    // The leading characters that fill the view, by their advances; a few more for kerning.
    qreal x = 0;
    qsizetype shown = -1;
    qsizetype k = 0;
    while (shown < 0) {
      if (k == line.size()) {
        if (line.size() == length) {
          shown = length;
        } else {
          line = text_.Line(i);  // characters of no width (combining marks): take it all
        }
        continue;
      }
      x += Advance(line[k].unicode());
      ++k;
      if (x >= need) shown = std::min(line.size(), k + 8);
    }
    if (shown == length) widest = std::max(widest, x);
    line.truncate(shown);
    const bool selected = sel_from != sel_to && i >= sel_from.line && i <= sel_to.line;
    const bool caret_here = caret_shown && caret_.line == i && caret_.column <= shown;
    const QPointF at(kMargin - hoff, y);
    QList<QTextLayout::FormatRange> selections;
    if (!highlight_.isEmpty()) {
      for (qsizetype m = line.indexOf(highlight_, 0, Qt::CaseInsensitive); m >= 0;
           m = line.indexOf(highlight_, m + highlight_.size(), Qt::CaseInsensitive)) {
        QTextLayout::FormatRange r;
        r.start = static_cast<int>(m);
        r.length = static_cast<int>(std::min(highlight_.size(), line.size() - m));
        r.format.setBackground(QColor(0xff, 0xe0, 0x70));
        r.format.setForeground(QColor(Qt::black));
        selections.append(r);
      }
    }
    if (!selected && !caret_here && selections.isEmpty()) {
      painter.drawText(QPointF(at.x(), at.y() + ascent), line);
      continue;
    }
    QTextLayout layout(line);
    LayOut(layout, font());
    if (selected) {
      const qsizetype from = i == sel_from.line ? sel_from.column : 0;
      const qsizetype to = std::min(i == sel_to.line ? sel_to.column : length, shown);
      if (to > from) {
        QTextLayout::FormatRange r;
        r.start = static_cast<int>(from);
        r.length = static_cast<int>(to - from);
        r.format.setBackground(pal.highlight());
        r.format.setForeground(pal.highlightedText());
        selections.append(r);
      }
    }
    layout.draw(&painter, at, selections);
    if (caret_here) layout.drawCursor(&painter, at, static_cast<int>(caret_.column));
  }
  if (widest > measured_width_) {
    measured_width_ = static_cast<int>(std::ceil(widest));
    QTimer::singleShot(0, this, [this] { UpdateScrollBars(); });
  }
}

qreal LogPane::ColumnX(qsizetype line, qsizetype column) const {
  QTextLayout layout(text_.Line(line));
  LayOut(layout, font());
  return layout.lineAt(0).cursorToX(static_cast<int>(column));
}

LogPos LogPane::PosAtPoint(QPoint p) const {
  const int lh = LineHeight();
  const int dy = p.y() - kMargin;
  const qsizetype row = dy >= 0 ? dy / lh : (dy - lh + 1) / lh;
  const qsizetype line = std::clamp<qsizetype>(verticalScrollBar()->value() + row, 0, text_.LineCount() - 1);
  QTextLayout layout(text_.Line(line));
  LayOut(layout, font());
  const int column = layout.lineAt(0).xToCursor(p.x() - kMargin + horizontalScrollBar()->value());
  return text_.Clamp({line, column});
}

void LogPane::MoveCaret(LogPos to, bool keep_anchor) {
  caret_ = text_.Clamp(to);
  if (!keep_anchor) anchor_ = caret_;
  anchor_ = text_.Clamp(anchor_);
  EnsureCaretVisible();
  viewport()->update();
  CaretMoved();
}

void LogPane::CaretMoved() {
  if (!QAccessible::isActive()) return;
  QAccessibleTextCursorEvent event(this, static_cast<int>(CaretPosition()));
  QAccessible::updateAccessibility(&event);
}

void LogPane::EnsureCaretVisible() {
  QScrollBar* v = verticalScrollBar();
  const int visible = std::max(1, v->pageStep());
  if (caret_.line < v->value()) v->setValue(static_cast<int>(caret_.line));
  if (caret_.line >= v->value() + visible) v->setValue(static_cast<int>(caret_.line - visible + 1));
  QScrollBar* h = horizontalScrollBar();
  const int x = static_cast<int>(ColumnX(caret_.line, caret_.column));
  const int width = viewport()->width() - 2 * kMargin;
  if (x > measured_width_) {
    measured_width_ = x;
    UpdateScrollBars();
  }
  if (x < h->value()) h->setValue(std::max(0, x - width / 4));
  if (x > h->value() + width) h->setValue(x - width + width / 4);
}

void LogPane::keyPressEvent(QKeyEvent* e) {
  if (e == QKeySequence::Copy) return Copy();
  if (e == QKeySequence::SelectAll) return SelectAll();
  if (e == QKeySequence::Find) return ShowFindBar();
  if (e->key() == Qt::Key_F3 && !(e->modifiers() & ~Qt::ShiftModifier)) {
    if (!find_bar_ || find_bar_->Edit()->text().isEmpty()) return ShowFindBar();
    return find_bar_->Search((e->modifiers() & Qt::ShiftModifier) ? FindFrom::Previous : FindFrom::Next);
  }
  if (e->key() == Qt::Key_Escape && find_bar_ && find_bar_->isVisible()) return HideFindBar();
  if (e == QKeySequence::Cut) {
    Copy();
    return InsertText({});
  }
  if (e == QKeySequence::Paste) return InsertText(QApplication::clipboard()->text());
  const bool shift = e->modifiers() & Qt::ShiftModifier;
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  const int page = std::max(1, verticalScrollBar()->pageStep());
  LogPos p = caret_;
  switch (e->key()) {
    case Qt::Key_Left:
      if (p.column > 0) {
        --p.column;
      } else if (p.line > 0) {
        p = {p.line - 1, text_.LineLength(p.line - 1)};
      }
      return MoveCaret(p, shift);
    case Qt::Key_Right:
      if (p.column < text_.LineLength(p.line)) {
        ++p.column;
      } else if (p.line + 1 < text_.LineCount()) {
        p = {p.line + 1, 0};
      }
      return MoveCaret(p, shift);
    case Qt::Key_Up:
      return MoveCaret({p.line - 1, p.column}, shift);
    case Qt::Key_Down:
      return MoveCaret({p.line + 1, p.column}, shift);
    case Qt::Key_PageUp:
      return MoveCaret({p.line - page, p.column}, shift);
    case Qt::Key_PageDown:
      return MoveCaret({p.line + page, p.column}, shift);
    case Qt::Key_Home:
      return MoveCaret(ctrl ? LogPos{0, 0} : LogPos{p.line, 0}, shift);
    case Qt::Key_End:
      return MoveCaret(ctrl ? text_.End() : LogPos{p.line, text_.LineLength(p.line)}, shift);
    case Qt::Key_Backspace:
      if (anchor_ == caret_) {
        if (p.column > 0) {
          anchor_ = {p.line, p.column - 1};
        } else if (p.line > 0) {
          anchor_ = {p.line - 1, text_.LineLength(p.line - 1)};
        }
      }
      return InsertText({});
    case Qt::Key_Delete:
      if (anchor_ == caret_) {
        if (p.column < text_.LineLength(p.line)) {
          anchor_ = {p.line, p.column + 1};
        } else if (p.line + 1 < text_.LineCount()) {
          anchor_ = {p.line + 1, 0};
        }
      }
      return InsertText({});
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return InsertText(QStringLiteral("\n"));
    default:
      break;
  }
  if (!ctrl && Typeable(e->text())) return InsertText(e->text());
  QAbstractScrollArea::keyPressEvent(e);
}

void LogPane::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(e);
  setFocus(Qt::MouseFocusReason);
  MoveCaret(PosAtPoint(e->position().toPoint()), e->modifiers() & Qt::ShiftModifier);
}

void LogPane::mouseMoveEvent(QMouseEvent* e) {
  if (!(e->buttons() & Qt::LeftButton)) return QAbstractScrollArea::mouseMoveEvent(e);
  MoveCaret(PosAtPoint(e->position().toPoint()), true);
}

void LogPane::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mouseDoubleClickEvent(e);
  const LogPos at = PosAtPoint(e->position().toPoint());
  const QString line = text_.Line(at.line);
  qsizetype from = at.column, to = at.column;
  while (from > 0 && line[from - 1].isLetterOrNumber()) --from;
  while (to < line.size() && line[to].isLetterOrNumber()) ++to;
  anchor_ = {at.line, from};
  MoveCaret({at.line, to}, true);
}

void LogPane::inputMethodEvent(QInputMethodEvent* e) {
  if (!e->commitString().isEmpty()) InsertText(e->commitString());
  e->accept();
}

QVariant LogPane::inputMethodQuery(Qt::InputMethodQuery q) const {
  switch (q) {
    case Qt::ImEnabled:
      return true;
    case Qt::ImCursorRectangle: {
      const int x = kMargin + static_cast<int>(ColumnX(caret_.line, caret_.column)) - horizontalScrollBar()->value();
      const int y = kMargin + static_cast<int>(caret_.line - verticalScrollBar()->value()) * LineHeight();
      return QRect(viewport()->mapTo(this, QPoint(x, y)), QSize(1, LineHeight()));
    }
    case Qt::ImSurroundingText:
      return text_.Line(caret_.line);
    case Qt::ImCursorPosition:
      return static_cast<int>(caret_.column);
    case Qt::ImAnchorPosition:
      return static_cast<int>(anchor_.line == caret_.line ? anchor_.column : caret_.column);
    default:
      return QAbstractScrollArea::inputMethodQuery(q);
  }
}

void LogPane::focusInEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusInEvent(e);
  viewport()->update();
}

void LogPane::focusOutEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusOutEvent(e);
  viewport()->update();
}

}  // namespace velmora
