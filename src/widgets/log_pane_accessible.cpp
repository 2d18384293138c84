#include "widgets/log_pane_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QScrollBar>

#include <algorithm>
#include <climits>

#include "widgets/log_pane.h"

namespace velmora {

// The pane reads as an editable, multi-line text named by its accessible name, with its
// whole text behind the text interface.
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
    const int y = LogPane::kMargin + static_cast<int>(at.line - p->verticalScrollBar()->value()) * p->LineHeight();
    const int x = LogPane::kMargin + static_cast<int>(p->ColumnX(at.line, at.column)) - p->horizontalScrollBar()->value();
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

QAccessibleInterface* LogPaneAccessibleFactory(const QString& class_name, QObject* object) {
  if (class_name == QLatin1String("velmora::LogPane") && object && object->isWidgetType()) {
    return new LogPaneAccessible(static_cast<QWidget*>(object));
  }
  return nullptr;
}

}  // namespace velmora
