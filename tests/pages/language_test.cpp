// The window in English: every text a user or a reader meets is in the chosen language,
// fits its control, and the switch back gives the program's own Chinese texts unchanged.

#include <QAccessible>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>

#include "console/ui/send_dialog.h"
#include "discovery/ui/devices_dialog.h"
#include "fota/ui/firmware_dialog.h"
#include "page_harness.h"
#include "records/ui/records_dialog.h"
#include "widgets/log_pane.h"
#include "widgets/translation.h"

namespace velmora {
namespace {

using test::PageHarness;

bool HasCjk(const QString& s) {
  for (const QChar c : s) {
    const char16_t u = c.unicode();
    if ((u >= 0x3000 && u <= 0x303F) || (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF)) return true;
  }
  return false;
}

QString Plain(QString s) { return s.remove(QLatin1Char('&')); }

// One text a window shows, where it is, and whether it has the room it needs.
struct Shown {
  QString where;
  QString text;
  int need = 0;  // pixels; 0 when the text is not drawn in a box of its own
  int room = 0;
};

QString Where(const QWidget* w) {
  return QStringLiteral("%1 #%2 in %3")
      .arg(QString::fromLatin1(w->metaObject()->className()))
      .arg(ControlId(w))
      .arg(w->window()->windowTitle());
}

void Collect(QWidget* w, std::vector<Shown>& out) {
  const QString at = Where(w);
  const QFontMetrics fm = w->fontMetrics();
  const QStyle* style = w->style();
  if (w->isWindow()) out.push_back({at + " (title)", w->windowTitle()});
  if (!w->toolTip().isEmpty()) out.push_back({at + " (tooltip)", w->toolTip()});
  if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w)) {
    out.push_back({at + " (accessible name)", a->text(QAccessible::Name)});
    out.push_back({at + " (accessible description)", a->text(QAccessible::Description)});
  }
  if (auto* label = qobject_cast<QLabel*>(w); label && !label->wordWrap()) {
    out.push_back({at, label->text(), fm.horizontalAdvance(Plain(label->text())), label->contentsRect().width()});
  } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
    const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                          style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
    out.push_back({at, box->text(), indicator + fm.horizontalAdvance(Plain(box->text())), box->width()});
  } else if (auto* button = qobject_cast<QPushButton*>(w)) {
    const int margins = 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    out.push_back({at, button->text(), fm.horizontalAdvance(Plain(button->text())) + margins, button->width()});
  } else if (auto* tool = qobject_cast<QToolButton*>(w)) {
    out.push_back({at, tool->text(), tool->sizeHint().width(), tool->width()});
    if (tool->menu()) {
      for (QAction* a : tool->menu()->actions()) out.push_back({at + " (menu)", a->text()});
    }
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    out.push_back({at, group->title(), fm.horizontalAdvance(group->title()) + fm.averageCharWidth() * 2, group->width()});
  } else if (auto* combo = qobject_cast<QComboBox*>(w); combo && ControlId(combo) != res::kIdcComPort) {
    // Port names are the system's, not words of ours; every other list's items must fit.
    const int arrow = style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo);
    for (int i = 0; i < combo->count(); ++i) {
      out.push_back({at + " (item)", combo->itemText(i), fm.horizontalAdvance(combo->itemText(i)) + arrow,
                     combo->width()});
    }
  } else if (auto* table = qobject_cast<QTableWidget*>(w)) {
    for (int c = 0; c < table->columnCount(); ++c) {
      const QString title = table->horizontalHeaderItem(c)->text();
      out.push_back({at + " (column)", title, table->horizontalHeader()->fontMetrics().horizontalAdvance(title),
                     table->columnWidth(c)});
    }
  } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
    for (int i = 0; i < tabs->count(); ++i) out.push_back({at + " (tab)", tabs->tabText(i)});
  }
}

// Controls of one window that overlap a sibling: a text pushed into its neighbour.
QStringList Overlaps(const QWidget* window) {
  QStringList found;
  const auto kids = window->findChildren<QWidget*>();
  for (const QWidget* a : kids) {
    if (!a->isVisibleTo(window) || a->isWindow() || qobject_cast<const QGroupBox*>(a)) continue;
    for (const QWidget* b : kids) {
      if (b <= a || b->parentWidget() != a->parentWidget() || !b->isVisibleTo(window) || b->isWindow() ||
          qobject_cast<const QGroupBox*>(b) || a->isAncestorOf(b) || b->isAncestorOf(a))
        continue;
      if (a->geometry().intersects(b->geometry())) found << Where(a) + " overlaps " + Where(b);
    }
    // And nothing sticks out of the box it is drawn in.
    if (a->parentWidget() && !a->parentWidget()->rect().contains(a->geometry()) &&
        ControlId(a->parentWidget()) != 1052)
      found << Where(a) + " leaves its parent";
  }
  return found;
}

struct Walk {
  std::vector<Shown> texts;
  QStringList overlaps;
};

Walk WalkWindows(const std::vector<QWidget*>& windows) {
  Walk walk;
  for (QWidget* window : windows) {
    Collect(window, walk.texts);
    for (QWidget* w : window->findChildren<QWidget*>()) {
      if (w->isVisibleTo(window) && w->window() == window) Collect(w, walk.texts);
    }
    walk.overlaps << Overlaps(window);
  }
  return walk;
}

QAction* LanguageItem(const MainWindow& window, const char* code) {
  for (QAction* a : window.LanguageButton()->menu()->actions()) {
    if (a->data().toString() == QLatin1String(code)) return a;
  }
  return nullptr;
}

TEST(Language, EnglishReachesEveryTextOfEveryWindowFitsItAndChineseComesBackUnchanged) {
  PageHarness app;
  MainWindow& window = *app.window;
  window.OpenFirmwareDialog(Link::Serial);
  window.ShowAbout();
  window.Records()->show();
  window.OpenSendDialog();
  window.OpenDevicesDialog();
  window.Log()->ShowFindBar();
  app.TypeInList(app.Serial(), res::kIdcComPort, QStringLiteral("/nonexistent/port"));
  // A relabelled port label, a closed-and-opened button and a composed tooltip, so texts
  // set after the build are seen switching too.
  app.Show(app.Network());
  app.Choose(app.Network(), res::kIdcNetMode, QStringLiteral("TCP Server"));
  std::vector<QWidget*> windows{&window, window.Firmware(), window.Records(), window.Console(), window.Devices()};
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (qobject_cast<QDialog*>(w) && w->isVisible() && std::find(windows.begin(), windows.end(), w) == windows.end())
      windows.push_back(w);  // the About box
  }
  ASSERT_EQ(windows.size(), 6u);

  // Every page is walked as shown: a page behind another tab is not visible to the window.
  // With VELMORA_SHOTS set to a folder, each window is saved there as drawn, to look at.
  const QString shots = qEnvironmentVariable("VELMORA_SHOTS");
  auto walk_all = [&] {
    Walk all;
    for (int i = 0; i < window.Tabs()->count(); ++i) {
      window.ShowPage(i);
      if (!shots.isEmpty()) {
        window.grab().save(QStringLiteral("%1/%2-page%3.png").arg(shots, Language()).arg(i));
        for (std::size_t k = 1; i == 0 && k < windows.size(); ++k) {
          windows[k]->grab().save(QStringLiteral("%1/%2-window%3.png").arg(shots, Language()).arg(k));
        }
      }
      Walk one = WalkWindows(windows);
      all.texts.insert(all.texts.end(), one.texts.begin(), one.texts.end());
      all.overlaps << one.overlaps;
    }
    return all;
  };

  const Walk chinese = walk_all();
  EXPECT_TRUE(chinese.overlaps.isEmpty()) << chinese.overlaps.join('\n').toStdString();
  std::size_t chinese_texts = 0;
  for (const Shown& s : chinese.texts) chinese_texts += HasCjk(s.text) ? 1 : 0;
  EXPECT_GT(chinese_texts, 100u);

  ASSERT_NE(LanguageItem(window, "en"), nullptr);
  LanguageItem(window, "en")->trigger();
  ASSERT_EQ(Language(), "en");

  const Walk english = walk_all();
  int checked = 0;
  for (const Shown& s : english.texts) {
    // The language menu names Chinese in Chinese, for one who reads only that.
    if (s.where.endsWith("(menu)") && s.text == QString::fromUtf8("中文")) continue;
    EXPECT_FALSE(HasCjk(s.text)) << s.where.toStdString() << ": " << s.text.toStdString();
    if (s.need > 0) {
      ++checked;
      EXPECT_LE(s.need, s.room) << s.where.toStdString() << ": \"" << s.text.toStdString() << "\" is cut";
    }
  }
  EXPECT_GT(checked, 150);
  EXPECT_TRUE(english.overlaps.isEmpty()) << english.overlaps.join('\n').toStdString();
  EXPECT_EQ(app.Label(app.Network(), 1056)->text(), "Local port");
  EXPECT_EQ(window.LanguageButton()->text(), "English");

  // The Log pane's own lines are written in the language of the moment; what came before
  // stays as it was written.
  app.Click(app.Serial(), res::kIdcOpenClose);
  EXPECT_TRUE(window.Log()->AllText().contains("[COM]: Failed to open serial port: /nonexistent/port"))
      << window.Log()->AllText().toStdString();

  // Back to Chinese: every text is the program's own again, exactly.
  LanguageItem(window, "zh")->trigger();
  ASSERT_EQ(Language(), "zh");
  const Walk again = walk_all();
  ASSERT_EQ(again.texts.size(), chinese.texts.size());
  for (std::size_t i = 0; i < again.texts.size(); ++i) {
    EXPECT_EQ(again.texts[i].text, chinese.texts[i].text) << again.texts[i].where.toStdString();
  }
  EXPECT_EQ(window.LanguageButton()->text(), QString::fromUtf8("中文"));
}

}  // namespace
}  // namespace velmora
