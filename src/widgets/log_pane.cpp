#include "widgets/log_pane.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStringConverter>
#include <QTextLayout>

#include <algorithm>
#include <optional>
#include <climits>
#include <cmath>
#include <cstring>

#include "widgets/translation.h"

namespace velmora {

namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// Longer lines get a block of their own, so short ones never leave much of a block unused.
constexpr std::size_t kOwnBlockBytes = kBlockBytes / 8;
constexpr int kMargin = 4;

// Where the next line break (CR or LF) is at or after `from`, or the size.
qsizetype NextBreak(QStringView s, qsizetype from, qsizetype& next_cr, qsizetype& next_lf) {
  if (next_cr < from) {
    next_cr = s.indexOf(u'\r', from);
    if (next_cr < 0) next_cr = s.size();
  }
  if (next_lf < from) {
    next_lf = s.indexOf(u'\n', from);
    if (next_lf < 0) next_lf = s.size();
  }
  return std::min(next_cr, next_lf);
}

bool Typeable(const QString& text) {
  if (text.isEmpty()) return false;
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c == u'\t' || (c.unicode() >= 0x20 && c.unicode() != 0x7F); });
}

// A needle found in any letter case in the UTF-8 text as it is kept, so a search through a
// long log decodes only the lines it matches in (Horspool's skips). Only for needles whose
// letters are ASCII, the others having no case (Chinese, digits, signs): folding ASCII
// bytes is then all the letter case there is. UTF-8 never starts a character inside
// another, so a match is always whole characters.
class Utf8Needle {
 public:
  static bool Fits(const QString& needle) {
    return !needle.isEmpty() && std::all_of(needle.begin(), needle.end(), [](QChar c) {
             return c.unicode() < 0x80 || (!c.isSurrogate() && c.toLower() == c && c.toUpper() == c &&
                                           c.toCaseFolded() == c && c.toTitleCase() == c);
           });
  }
  explicit Utf8Needle(const QString& needle) : needle_(needle.toUtf8()) {
    for (char& c : needle_) c = Fold(c);
    const auto m = static_cast<std::size_t>(needle_.size());
    std::fill(std::begin(skip_), std::end(skip_), m);
    for (std::size_t i = 0; i + 1 < m; ++i) skip_[static_cast<unsigned char>(needle_[static_cast<qsizetype>(i)])] = m - 1 - i;
  }
  // The byte offset of the first match at or after `from`, or -1.
  qsizetype In(QByteArrayView text, qsizetype from) const {
    const qsizetype m = needle_.size();
    const char* t = text.data();
    for (qsizetype pos = from; pos + m <= text.size();) {
      const char last = Fold(t[pos + m - 1]);
      if (last == needle_[m - 1]) {
        qsizetype k = m - 2;
        while (k >= 0 && Fold(t[pos + k]) == needle_[k]) --k;
        if (k < 0) return pos;
      }
      pos += static_cast<qsizetype>(skip_[static_cast<unsigned char>(last)]);
    }
    return -1;
  }

 private:
  static char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
  QByteArray needle_;
  std::size_t skip_[256];
};

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

// ---------------------------------------------------------------------------------------
// LogText

LogText::LogText() { Clear(); }

void LogText::Clear() {
  blocks_.clear();
  block_sizes_.clear();
  current_ = 0;
  used_ = kBlockBytes;  // the first short line opens a block
  lines_.assign(1, LineRef{0, 0, 0, 0});
  lines_.shrink_to_fit();
  size_ = 0;
  longest_ = 0;
  longest_line_ = 0;
  stale_bytes_ = 0;
  live_bytes_ = 0;
}

QString LogText::Line(qsizetype i) const {
  const LineRef& r = lines_[static_cast<std::size_t>(i)];
  if (r.bytes == 0) return {};
  return QString::fromUtf8(blocks_[r.block].get() + r.offset, r.bytes);
}

QByteArrayView LogText::LineBytes(qsizetype i) const {
  const LineRef& r = lines_[static_cast<std::size_t>(i)];
  if (r.bytes == 0) return {};
  return {blocks_[r.block].get() + r.offset, static_cast<qsizetype>(r.bytes)};
}

QString LogText::Line(qsizetype i, qsizetype most) const {
  const LineRef& r = lines_[static_cast<std::size_t>(i)];
  if (r.units <= most) return Line(i);
  // No character takes more than three bytes, so this many hold the first `most`.
  const auto bytes = static_cast<qsizetype>(std::min<std::size_t>(r.bytes, 3 * static_cast<std::size_t>(most)));
  QString s = QString::fromUtf8(blocks_[r.block].get() + r.offset, bytes);
  s.truncate(most);
  return s;
}

LogText::LineRef LogText::Store(QStringView line) {
  if (line.isEmpty()) return {0, 0, 0, 0};
  const auto units = static_cast<std::uint32_t>(line.size());
  const std::size_t worst = 3 * static_cast<std::size_t>(line.size());
  QStringEncoder utf8(QStringEncoder::Utf8);
  if (worst > kOwnBlockBytes) {
    const QByteArray bytes = line.toUtf8();
    auto block = std::make_unique<char[]>(static_cast<std::size_t>(bytes.size()));
    std::memcpy(block.get(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
    blocks_.push_back(std::move(block));
    block_sizes_.push_back(static_cast<std::size_t>(bytes.size()));
    live_bytes_ += static_cast<std::size_t>(bytes.size());
    return {static_cast<std::uint32_t>(blocks_.size() - 1), 0, static_cast<std::uint32_t>(bytes.size()), units};
  }
  if (blocks_.empty() || used_ + worst > block_sizes_[current_]) {
    blocks_.push_back(std::make_unique<char[]>(kBlockBytes));
    block_sizes_.push_back(kBlockBytes);
    current_ = blocks_.size() - 1;
    used_ = 0;
  }
  char* start = blocks_[current_].get() + used_;
  char* end = utf8.appendToBuffer(start, line);
  const auto bytes = static_cast<std::uint32_t>(end - start);
  const LineRef ref{static_cast<std::uint32_t>(current_), static_cast<std::uint32_t>(used_), bytes, units};
  used_ += bytes;
  live_bytes_ += bytes;
  return ref;
}

void LogText::Append(QStringView text) {
  qsizetype start = 0;
  qsizetype next_cr = -1, next_lf = -1;
  const qsizetype n = text.size();
  while (true) {
    const qsizetype brk = NextBreak(text, start, next_cr, next_lf);
    if (brk > start) {
      // The segment continues the last line, which is usually still empty.
      LineRef& last = lines_.back();
      const QStringView segment = text.mid(start, brk - start);
      qsizetype units = segment.size();
      if (last.units == 0) {
        last = Store(segment);
      } else {
        QString joined = Line(LineCount() - 1);
        joined += segment;
        stale_bytes_ += last.bytes;
        live_bytes_ -= last.bytes;
        lines_.back() = Store(joined);
      }
      size_ += units;
      if (lines_.back().units > longest_) {
        longest_ = lines_.back().units;
        longest_line_ = LineCount() - 1;
      }
    }
    if (brk >= n) break;
    start = brk + ((text[brk] == u'\r' && brk + 1 < n && text[brk + 1] == u'\n') ? 2 : 1);
    lines_.push_back(LineRef{0, 0, 0, 0});
    ++size_;
  }
  if (stale_bytes_ > std::max(live_bytes_, kBlockBytes * 4)) Pack();
}

LogPos LogText::Clamp(LogPos p) const {
  p.line = std::clamp<qsizetype>(p.line, 0, LineCount() - 1);
  p.column = std::clamp<qsizetype>(p.column, 0, LineLength(p.line));
  return p;
}

LogPos LogText::Replace(LogPos from, LogPos to, QStringView text) {
  from = Clamp(from);
  to = Clamp(to);
  if (to < from) std::swap(from, to);
  QString joined = Line(from.line).left(from.column);
  joined += text;
  joined.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  joined.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  // Where the caret goes: behind the inserted text.
  const qsizetype inserted_end = joined.size();
  joined += QStringView(Line(to.line)).mid(to.column);

  for (qsizetype i = from.line; i <= to.line; ++i) {
    const LineRef& r = lines_[static_cast<std::size_t>(i)];
    stale_bytes_ += r.bytes;
    live_bytes_ -= r.bytes;
    size_ -= r.units;
  }
  size_ -= to.line - from.line;
  std::vector<LineRef> fresh;
  LogPos after{from.line, 0};
  qsizetype start = 0;
  while (true) {
    const qsizetype lf = joined.indexOf(u'\n', start);
    const qsizetype stop = lf < 0 ? joined.size() : lf;
    fresh.push_back(Store(QStringView(joined).mid(start, stop - start)));
    size_ += stop - start;
    if (stop - start > longest_) {
      longest_ = stop - start;
      longest_line_ = from.line + static_cast<qsizetype>(fresh.size()) - 1;
    }
    if (inserted_end >= start && inserted_end <= stop) {
      after = {from.line + static_cast<qsizetype>(fresh.size()) - 1, inserted_end - start};
    }
    if (lf < 0) break;
    ++size_;
    start = lf + 1;
  }
  // Typing rewrites one line: overwrite in place and move the rest only for the difference.
  const auto first = lines_.begin() + from.line;
  const auto old_count = static_cast<std::size_t>(to.line - from.line + 1);
  const std::size_t kept = std::min(old_count, fresh.size());
  std::copy_n(fresh.begin(), kept, first);
  if (old_count > kept) {
    lines_.erase(first + static_cast<std::ptrdiff_t>(kept), first + static_cast<std::ptrdiff_t>(old_count));
  } else {
    lines_.insert(first + static_cast<std::ptrdiff_t>(kept), fresh.begin() + static_cast<std::ptrdiff_t>(kept), fresh.end());
  }
  if (longest_line_ >= LineCount()) longest_line_ = 0;
  if (stale_bytes_ > std::max(live_bytes_, kBlockBytes * 4)) Pack();
  return after;
}

void LogText::Pack() {
  auto old_blocks = std::move(blocks_);
  blocks_.clear();
  block_sizes_.clear();
  used_ = kBlockBytes;
  current_ = 0;
  live_bytes_ = 0;
  stale_bytes_ = 0;
  for (LineRef& r : lines_) {
    if (r.bytes == 0) continue;
    r = Store(QString::fromUtf8(old_blocks[r.block].get() + r.offset, r.bytes));
  }
}

QString LogText::Text(LogPos from, LogPos to) const {
  from = Clamp(from);
  to = Clamp(to);
  if (to < from) std::swap(from, to);
  if (from.line == to.line) return Line(from.line).mid(from.column, to.column - from.column);
  QString out;
  out.reserve(static_cast<qsizetype>(std::min<qsizetype>(Offset(to) - Offset(from), qsizetype{1} << 30)));
  out += QStringView(Line(from.line)).mid(from.column);
  for (qsizetype i = from.line + 1; i < to.line; ++i) {
    out += u'\n';
    const LineRef& r = lines_[static_cast<std::size_t>(i)];
    if (r.bytes == 0) continue;
    const qsizetype at = out.size();
    out.resize(at + r.units);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QChar* end = utf8.appendToBuffer(out.data() + at, QByteArrayView(blocks_[r.block].get() + r.offset, r.bytes));
    out.truncate(end - out.constData());
  }
  out += u'\n';
  out += QStringView(Line(to.line)).left(to.column);
  return out;
}

qsizetype LogText::Offset(LogPos p) const {
  p = Clamp(p);
  qsizetype offset = p.column;
  for (qsizetype i = 0; i < p.line; ++i) offset += lines_[static_cast<std::size_t>(i)].units + 1;
  return offset;
}

LogPos LogText::PosAt(qsizetype offset) const {
  offset = std::clamp<qsizetype>(offset, 0, size_);
  qsizetype line = 0;
  while (line + 1 < LineCount() && offset > LineLength(line)) {
    offset -= LineLength(line) + 1;
    ++line;
  }
  return {line, std::min(offset, LineLength(line))};
}

std::size_t LogText::Footprint() const {
  std::size_t bytes = lines_.capacity() * sizeof(LineRef) + blocks_.capacity() * sizeof(blocks_[0]) +
                      block_sizes_.capacity() * sizeof(std::size_t);
  for (std::size_t s : block_sizes_) bytes += s;
  return bytes;
}

// ---------------------------------------------------------------------------------------
// Accessibility: the pane reads as an editable, multi-line text named by its accessible
// name, with its whole text behind the text interface.

class LogPaneAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit LogPaneAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return Pane()->toPlainText();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.editable = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
  }

  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || Pane()->anchor_ == Pane()->caret_) return;
    const auto a = static_cast<int>(Pane()->AnchorPosition());
    const auto c = static_cast<int>(Pane()->CaretPosition());
    *start = std::min(a, c);
    *end = std::max(a, c);
  }
  int selectionCount() const override { return Pane()->anchor_ == Pane()->caret_ ? 0 : 1; }
  void addSelection(int start, int end) override { Pane()->Select(start, end); }
  void removeSelection(int) override { Pane()->SetCaret(Pane()->CaretPosition()); }
  void setSelection(int, int start, int end) override { Pane()->Select(start, end); }
  int cursorPosition() const override { return static_cast<int>(Pane()->CaretPosition()); }
  void setCursorPosition(int position) override { Pane()->SetCaret(position); }
  QString text(int start, int end) const override {
    const LogText& t = Pane()->Text();
    return t.Text(t.PosAt(start), t.PosAt(end));
  }
  int characterCount() const override { return static_cast<int>(std::min<qsizetype>(Pane()->Text().Size(), INT_MAX)); }
  QRect characterRect(int offset) const override {
    const LogPane* p = Pane();
    const LogPos at = p->Text().PosAt(offset);
    const int y = kMargin + static_cast<int>(at.line - p->verticalScrollBar()->value()) * p->LineHeight();
    const int x = kMargin + static_cast<int>(p->ColumnX(at.line, at.column)) - p->horizontalScrollBar()->value();
    const int w = std::max(1, p->fontMetrics().averageCharWidth());
    const QPoint global = p->viewport()->mapToGlobal(QPoint(x, y));
    return {global, QSize(w, p->LineHeight())};
  }
  int offsetAtPoint(const QPoint& point) const override {
    const LogPane* p = Pane();
    return static_cast<int>(p->Text().Offset(p->PosAtPoint(p->viewport()->mapFromGlobal(point))));
  }
  void scrollToSubstring(int start, int) override {
    Pane()->SetCaret(start);
  }
  QString attributes(int offset, int* start, int* end) const override {
    *start = 0;
    *end = characterCount();
    (void)offset;
    return {};
  }

 private:
  LogPane* Pane() const { return static_cast<LogPane*>(widget()); }
};

namespace {
QAccessibleInterface* LogPaneAccessibleFactory(const QString& class_name, QObject* object) {
  if (class_name == QLatin1String("velmora::LogPane") && object && object->isWidgetType()) {
    return new LogPaneAccessible(static_cast<QWidget*>(object));
  }
  return nullptr;
}
}  // namespace

// ---------------------------------------------------------------------------------------
// LogPane

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
  std::optional<Utf8Needle> utf8;
  if (Utf8Needle::Fits(needle)) utf8.emplace(needle);
  // Where the needle starts in `line` at or after column `from`, or at or before it when
  // `last` (-1 for the line's end); -1 when it is not there.
  auto search = [&](qsizetype line, qsizetype column, bool last) -> qsizetype {
    if (!utf8) {
      const QString s = text_.Line(line);
      return last ? s.lastIndexOf(needle, column, Qt::CaseInsensitive) : s.indexOf(needle, column, Qt::CaseInsensitive);
    }
    const QByteArrayView bytes = text_.LineBytes(line);
    const bool plain = bytes.size() == text_.LineLength(line);  // ASCII only: bytes are columns
    auto to_column = [&](qsizetype byte) { return plain ? byte : QString::fromUtf8(bytes.first(byte)).size(); };
    auto to_byte = [&](qsizetype col) { return plain ? col : text_.Line(line).first(col).toUtf8().size(); };
    if (!last) {
      const qsizetype at = utf8->In(bytes, column == 0 ? 0 : to_byte(column));
      return at < 0 ? -1 : to_column(at);
    }
    qsizetype found = -1;
    for (qsizetype at = utf8->In(bytes, 0); at >= 0; at = utf8->In(bytes, at + 1)) {
      const qsizetype c = to_column(at);
      if (column >= 0 && c > column) break;
      found = c;
    }
    return found;
  };
  const LogPos sel_from = std::min(anchor_, caret_);
  const qsizetype n = text_.LineCount();
  // The start line comes round once more at the end, for the matches before the start.
  if (from != FindFrom::Previous) {
    const LogPos start = from == FindFrom::Here ? sel_from : std::max(anchor_, caret_);
    for (qsizetype k = 0; k <= n; ++k) {
      const qsizetype line = (start.line + k) % n;
      const qsizetype at = search(line, k == 0 ? start.column : 0, false);
      if (at < 0) continue;
      anchor_ = {line, at};
      MoveCaret({line, at + needle.size()}, true);
      return true;
    }
    return false;
  }
  for (qsizetype k = 0; k <= n; ++k) {
    const qsizetype line = ((sel_from.line - k) % n + n) % n;
    if (k == 0 && sel_from.column == 0) continue;
    const qsizetype at = search(line, k == 0 ? sel_from.column - 1 : -1, true);
    if (at < 0) continue;
    anchor_ = {line, at};
    MoveCaret({line, at + needle.size()}, true);
    return true;
  }
  return false;
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
  pending_.append(text);
  if (flush_timer_.isActive()) return;
  // An entry after a pause shows at once; a stream shows at most once per interval.
  const qint64 since = last_flush_.isValid() ? last_flush_.elapsed() : kFlushIntervalMs;
  flush_timer_.start(static_cast<int>(std::max<qint64>(0, kFlushIntervalMs - since)));
}

void LogPane::Flush() {
  flush_timer_.stop();
  if (pending_.isEmpty()) return;
  last_flush_.start();
  const qsizetype before = text_.Size();
  for (const QString& entry : std::as_const(pending_)) text_.Append(entry);
  pending_.clear();
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
  pending_.clear();
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

namespace velmora {

// ---------------------------------------------------------------------------------------
// LogFindBar

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
