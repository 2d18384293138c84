#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "widgets/controls.h"
#include "widgets/dialog_builder.h"

namespace velmora {
namespace {

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

// Types text the way a keyboard layout delivers it, including characters QTest cannot map to keys.
void TypeText(QWidget* w, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &press);
  }
}

struct Clicker {
  int go = 0;
  void OnGo() { ++go; }
};

TEST(DialogBuilder, DialogUnitsComeFromTheFontsBaseUnits) {
  QWidget host;
  const ControlMap m = BuildDialog(Sample(), &host);
  const QFontMetrics fm(host.font());
  const int bx = (fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") + 26) / 52;
  const int by = fm.height();
  EXPECT_EQ(host.font().pointSize(), 8);
  EXPECT_EQ(host.size(), QSize((200 * bx + 2) / 4, (100 * by + 4) / 8));
  EXPECT_EQ(m.Get(1004)->geometry(), QRect((120 * bx + 2) / 4, (78 * by + 4) / 8, (40 * bx + 2) / 4, (14 * by + 4) / 8));
  EXPECT_EQ(host.windowTitle(), "Sample");
}

TEST(DialogBuilder, ControlsAreRegisteredByIdAndNamedForScreenReaders) {
  QWidget host;
  const ControlMap m = BuildDialog(Sample(), &host);
  for (int id : {1001, 1002, 1003, 1004, 1005, 1056, 1018}) {
    ASSERT_TRUE(m.Has(id)) << id;
    EXPECT_EQ(FindControl(&host, id), m.Get(id)) << id;
    EXPECT_EQ(ControlId(m.Get(id)), id);
  }
  EXPECT_EQ(m.Get(1001)->accessibleName(), "Rate:");
  EXPECT_EQ(m.Get(1004)->accessibleName(), "Go");
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
  QWidget host;
  const ControlMap m = BuildDialog(Sample(), &host);
  Clicker c;
  QObject ctx;
  for (const auto& [id, fn] : ClickTable<Clicker>{{1004, &Clicker::OnGo}}) {
    ConnectClick(m.Button(id), &ctx, [&c, f = fn] { (c.*f)(); });
  }
  host.show();
  QTest::mouseClick(m.Button(1004), Qt::LeftButton);
  QTest::mouseClick(m.Button(1004), Qt::LeftButton);
  EXPECT_EQ(c.go, 2);
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

TEST(Controls, IpAddressTypingMovesAlongTheFieldsAndCapsAt255) {
  IpAddressEdit ip;
  ip.show();
  QApplication::setActiveWindow(&ip);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&ip));
  // Keys go wherever the focus has moved, as they do for a typing engineer.
  auto type = [](const QString& s) {
    for (const QChar c : s) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
  };
  ip.Field(0)->setFocus();
  type("10.0.0.999");
  EXPECT_EQ(ip.text(), "10.0.0.255");
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
