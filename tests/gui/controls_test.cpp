#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

#include "widgets/controls.h"
#include "widgets/dialog_builder.h"
#include "support/gui_typing.h"

namespace velmora {
namespace {

using test::TypeText;

const res::Dialog& Sample() {
  static const res::Dialog d{
      900, "Sample", 200, 100, 8,
      {
          {res::kNoId, res::Kind::GroupBox, "Group:", 4, 4, 190, 90},
          {1001, res::Kind::ComboBox, "Rate:", 58, 18, 100, 133, {"1200", "9600", "115200"}},
          {1002, res::Kind::Edit, "Port:", 58, 38, 100, 14, {}, 0, res::kDigitsOnly},
          {1003, res::Kind::Edit, "Name:", 58, 58, 100, 14, {}, 6},
          {1004, res::Kind::PushButton, "Go", 120, 78, 40, 14},
          {1005, res::Kind::IpAddress, "Addr:", 58, 78, 60, 14},
          {1056, res::Kind::Label, "Target port:", 4, 96, 36, 8},
          {1018, res::Kind::Edit, "", 58, 96, 60, 14, {}, 0, res::kNoStyle, 1056},
      }};
  return d;
}

struct Clicker : QObject {
  int go = 0;
  int stop = 0;
  void OnGo() { ++go; }
  void OnStop() { ++stop; }
};

// Dialog units are defined by the font, not by a formula: 4 horizontal units are one
// average letter, 8 vertical units one line of text. Checked against the font itself,
// at two sizes, so a wrong axis, a lost font or a rounding that drifts shows.
TEST(DialogBuilder, DialogUnitsFollowTheDialogFont) {
  for (int points : {8, 16}) {
    res::Dialog d = Sample();
    d.point_size = points;
    d.controls = {{1001, res::Kind::PushButton, "a", 3, 5, 205, 8},
                  {1002, res::Kind::PushButton, "b", 208, 13, 40, 14}};
    QWidget host;
    const ControlMap m = BuildDialog(d, &host);
    const QFontMetrics fm(host.font());
    EXPECT_EQ(host.font().pointSize(), points);
    // 205 units: the 52 letters a-z A-Z side by side, less three units.
    const int letters = fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    EXPECT_NEAR(m.Get(1001)->width(), letters * 205 / 208, 26) << points;
    EXPECT_EQ(m.Get(1001)->height(), fm.height()) << points;
    // Controls that meet in units meet in pixels: no gap, no overlap.
    EXPECT_EQ(m.Get(1002)->x(), m.Get(1001)->geometry().right() + 1) << points;
    EXPECT_EQ(m.Get(1002)->y(), m.Get(1001)->geometry().bottom() + 1) << points;
  }
}

TEST(DialogBuilder, ControlsAreRegisteredByIdAndNamedForScreenReaders) {
  QWidget host;
  const ControlMap m = BuildDialog(Sample(), &host);
  for (int id : {1001, 1002, 1003, 1004, 1005, 1056, 1018}) {
    ASSERT_TRUE(m.Has(id)) << id;
    EXPECT_EQ(FindControl(&host, id), m.Get(id)) << id;
    EXPECT_EQ(ControlId(m.Get(id)), id);
  }
  EXPECT_EQ(m.Get(1001)->accessibleName(), "Rate");
  EXPECT_EQ(m.Get(1004)->accessibleName(), "") << "a button is named by its own text";
  EXPECT_EQ(m.Get(1018)->accessibleName(), "Target port");
  // Side labels stand left of their control on the same row and point at it.
  bool found = false;
  for (QLabel* l : host.findChildren<QLabel*>()) {
    if (l->text() == "Port:") {
      found = true;
      EXPECT_EQ(l->buddy(), m.Get(1002));
      EXPECT_LE(l->geometry().right(), m.Get(1002)->geometry().left());
      EXPECT_EQ(l->geometry().top(), m.Get(1002)->geometry().top());
    }
  }
  EXPECT_TRUE(found);
  auto* combo = m.Combo(1001);
  EXPECT_TRUE(combo->isEditable());
  EXPECT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->currentIndex(), -1);
}

TEST(DialogBuilder, ClickTableBindsEachButtonToItsHandler) {
  res::Dialog d = Sample();
  d.controls.push_back({1006, res::Kind::PushButton, "Stop", 160, 78, 30, 14});
  QWidget host;
  const ControlMap m = BuildDialog(d, &host);
  Clicker c;
  BindClicks(m, &c, ClickTable<Clicker>{{1004, &Clicker::OnGo}, {1006, &Clicker::OnStop}});
  host.show();
  QTest::mouseClick(m.Button(1004), Qt::LeftButton);
  QTest::mouseClick(m.Button(1004), Qt::LeftButton);
  QTest::mouseClick(m.Button(1006), Qt::LeftButton);
  EXPECT_EQ(c.go, 2);
  EXPECT_EQ(c.stop, 1);
}

TEST(Controls, DigitsOnlyEditRefusesTypedLettersButKeepsProgramText) {
  LineEdit e;
  e.SetDigitsOnly(true);
  e.show();
  QTest::keyClicks(&e, "12a3.-4");
  EXPECT_EQ(e.text(), "1234");
  e.setText("434.00");
  EXPECT_EQ(e.text(), "434.00");
  LineEdit freq;
  freq.SetDigitsOnly(true, true);
  QTest::keyClicks(&freq, "433.5MHz");
  EXPECT_EQ(freq.text(), "433.5");
}

TEST(Controls, TextLimitCountsGbkBytes) {
  LineEdit e;
  e.SetByteLimit(6);
  e.show();
  QTest::keyClicks(&e, "ab");
  TypeText(&e, QString::fromUtf8("关闭以太网"));  // two bytes each
  EXPECT_EQ(e.text(), QString::fromUtf8("ab关闭"));
  QTest::keyClicks(&e, "x");
  EXPECT_EQ(e.text(), QString::fromUtf8("ab关闭"));
}

TEST(Controls, IpAddressReadsBlankFieldsAsZero) {
  IpAddressEdit ip;
  EXPECT_EQ(ip.text(), "0.0.0.0");
  ip.setText("192.168.1.100");
  EXPECT_EQ(ip.text(), "192.168.1.100");
  EXPECT_EQ(ip.Octets(), (std::array<uint8_t, 4>{192, 168, 1, 100}));
  ip.setText("10..x.7");
  EXPECT_EQ(ip.text(), "10.0.0.7");
  EXPECT_TRUE(ip.Field(1)->text().isEmpty());
  ip.SetOctets({255, 255, 255, 255});
  EXPECT_EQ(ip.text(), "255.255.255.255");
  ip.Clear();
  EXPECT_EQ(ip.text(), "0.0.0.0");
}

TEST(Controls, IpAddressTypesPastesAndCopiesAsOneDottedText) {
  IpAddressEdit ip;
  ip.SetAccessibleLabel("Server IP");
  ip.show();
  QApplication::setActiveWindow(&ip);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&ip));
  // Keys go wherever the focus has moved, as they do for a typing engineer.
  auto key = [](int k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(QApplication::focusWidget(), Qt::Key(k), m); };
  auto type = [](const QString& s) {
    for (const QChar c : s) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
  };
  EXPECT_EQ(ip.Field(2)->accessibleName(), "Server IP 3/4");

  // Select all, then type a whole address over an old one, wherever the caret was.
  ip.setText("10.20.30.40");
  ip.Field(2)->setFocus();
  key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_TRUE(ip.WholeSelected());
  type("127.0.0.1");
  EXPECT_EQ(ip.text(), "127.0.0.1");

  // Copy gives the dotted text; paste of one goes in whole, from any field.
  key(Qt::Key_A, Qt::ControlModifier);
  key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "127.0.0.1");
  QGuiApplication::clipboard()->setText(" 192.168.1.100 ");
  ip.Field(1)->setFocus();
  key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ip.text(), "192.168.1.100");
  QGuiApplication::clipboard()->setText("192.168.1.300");
  key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ip.text(), "192.168.1.100") << "no part of a bad address is taken";

  // Backspace runs back through the fields as through one text.
  for (int i = 0; i < 5; ++i) key(Qt::Key_Backspace);
  EXPECT_EQ(ip.Field(1)->text(), "16");
  EXPECT_TRUE(ip.Field(2)->text().isEmpty());
  EXPECT_TRUE(ip.Field(3)->text().isEmpty());

  // Over 255 is refused as typed, and the field says why instead of changing the value;
  // space moves on as "." does, and a full field moves on by itself.
  ip.Clear();
  ip.Field(0)->setFocus();
  type("10 0 0 999");
  EXPECT_EQ(ip.text(), "10.0.0.99");
  EXPECT_FALSE(ip.RefusalText().isEmpty());
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), ip.RefusalText());
  ip.Clear();
  ip.Field(0)->setFocus();
  type("192168");
  EXPECT_EQ(ip.Field(0)->text(), "192");
  EXPECT_EQ(ip.Field(1)->text(), "168");
}

TEST(Controls, ListPositionIsMinusOneForTypedTextAndNoSelection) {
  QComboBox c;
  c.setEditable(true);
  c.addItems({"NO", "ODD", "EVEN"});
  SetListPosition(&c, 2);
  EXPECT_EQ(ListPosition(&c), 2);
  c.setEditText("MARK");
  EXPECT_EQ(ListPosition(&c), -1);
  SetListPosition(&c, 7);
  EXPECT_EQ(ListPosition(&c), -1);
  EXPECT_TRUE(c.currentText().isEmpty());
  SetListPosition(&c, 0);
  EXPECT_EQ(c.currentText(), "NO");
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(DialogBuilder, LabelsGrowToTheirTextInsteadOfCuttingIt) {
  static const res::Dialog d{901, "", 100, 40, 8,
                             {{res::kNoId, res::Kind::Label, "DeviceSecret:", 4, 4, 10, 8},
                              {1002, res::Kind::Label, "....", 4, 20, 90, 8, {}, 0, res::kCentered}}};
  QWidget host;
  BuildDialog(d, &host);
  for (QLabel* l : host.findChildren<QLabel*>()) {
    EXPECT_GE(l->width(), l->sizeHint().width()) << l->text().toStdString();
  }
  const auto* centred = qobject_cast<QLabel*>(FindControl(&host, 1002));
  EXPECT_EQ(centred->width(), DialogUnits::ForFont(host.font()).X(90));  // keeps its box
}

}  // namespace
}  // namespace velmora
