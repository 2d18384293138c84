// The configuration form as both pages show it: layout, defaults, rules and commands.

#include <QCheckBox>
#include <QGroupBox>

#include <cstdlib>
#include <ctime>
#include <map>

#include "config/config_defaults.h"
#include "config/mac_generator.h"
#include "fota/ui/firmware_dialog.h"
#include "page_harness.h"

namespace velmora {
namespace {

using test::PageHarness;

struct PageCase {
  const char* name;
  int index;
  int tx_power;
  int uart_map;
  const char* prefix;
  uint8_t selector;
};

void PrintTo(const PageCase& pc, std::ostream* os) { *os << pc.name; }

const PageCase kSerial{"Serial", MainWindow::kSerialPage, 1016, 1017, "串口发送:", 1};
const PageCase kNetwork{"Network", MainWindow::kNetworkPage, 1017, 1029, "UDP发送:", 2};

class FormOnEachPage : public ::testing::TestWithParam<PageCase> {
 protected:
  PageHarness app;
  const PageCase& pc = GetParam();
  QWidget& page = *app.window->Page(pc.index);
  QString U(const char* s) { return QString::fromUtf8(s); }
};

QStringList Items(const QComboBox* c) {
  QStringList out;
  for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
  return out;
}

TEST_P(FormOnEachPage, StartsWithTheDefaultFormAndItsLists) {
  auto& form = *qobject_cast<ConfigFormPage*>(&page);
  EXPECT_EQ(EncodeConfig(form.ReadForm()), EncodeConfig(DefaultConfigForm()));
  EXPECT_EQ(app.Ip(page, 1009)->text(), "203.0.113.10");
  EXPECT_EQ(app.Edit(page, 1024)->text(), "434.00");
  for (int id : {1026, 1027, 1028}) EXPECT_TRUE(app.Edit(page, id)->text().isEmpty()) << id;
  EXPECT_FALSE(app.Button(page, 1053)->isChecked());
  EXPECT_FALSE(app.Button(page, 1054)->isChecked());
  EXPECT_EQ(app.Label(page, 1056)->text(), U("目标端口:"));
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));

  // List items in the order their positions travel.
  const QStringList bauds{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
  const std::map<int, QStringList> lists{
      {1004, {"TCP Client", "TCP Server", "UDP Client"}},
      {1012, {"2s", "4s", "6s", "8s", "10s"}},
      {1005, {"2ms", "4ms", "8ms", "16ms", "32ms", "64ms"}},
      {pc.tx_power, {"Level1", "Level2", "Level3", "Level4", "Level5", "Level6", "Level7"}},
      {1013, bauds},
      {1014, {"NO", "ODD", "EVEN"}},
      {1015, {"TTL", "RS232", "RS485"}},
      {pc.uart_map, {U("关闭"), "LORA", "IP0_4G", "IP1_4G", U("以太网")}},
  };
  for (const auto& [id, items] : lists) EXPECT_EQ(Items(app.Combo(page, id)), items) << id;

  if (pc.index == MainWindow::kSerialPage) {
    EXPECT_EQ(Items(app.Combo(page, 1001)), bauds);
    EXPECT_EQ(app.Combo(page, 1001)->currentText(), "115200");
    EXPECT_EQ(app.Combo(page, 1002)->currentText(), "NO");
  } else {
    EXPECT_EQ(app.Ip(page, 1016)->text(), "255.255.255.255");
    EXPECT_EQ(FindControl(&page, 1000), nullptr);
  }
}

TEST_P(FormOnEachPage, TypingKeepsToDigitsAndByteLimits) {
  app.Type(page, 1018, "20a0");
  EXPECT_EQ(app.Edit(page, 1018)->text(), "200");
  app.Type(page, 1024, "433.5MHz");
  EXPECT_EQ(app.Edit(page, 1024)->text(), "433.5");
  app.Type(page, 1019, QString(70, QLatin1Char('d')));
  EXPECT_EQ(app.Edit(page, 1019)->text().size(), 64);
  app.Type(page, 1023, U("物联网") + QString(70, QLatin1Char('x')));
  EXPECT_EQ(app.Edit(page, 1023)->text(), U("物联网") + QString(58, QLatin1Char('x')));  // 64 GBK bytes
  app.Type(page, 1028, "02 1F 3C 4D 5E 60 7");
  EXPECT_EQ(app.Edit(page, 1028)->text(), "02 1F 3C 4D 5E 60");
}

TEST_P(FormOnEachPage, DhcpAndNetworkModeRulesDisableWithoutClearing) {
  app.Click(page, 1053);
  for (int id : {1006, 1007, 1008}) EXPECT_FALSE(app.Ctl(page, id)->isEnabled()) << id;
  EXPECT_EQ(app.Ip(page, 1006)->text(), "192.168.1.100");
  // With DHCP the record carries zeros for the three addresses, whatever they show.
  ConfigForm read = qobject_cast<ConfigFormPage*>(&page)->ReadForm();
  EXPECT_TRUE(read.dhcp);
  const ConfigRecord rec = EncodeConfig(read);
  EXPECT_TRUE(std::all_of(rec.begin(), rec.begin() + 12, [](uint8_t b) { return b == 0; }));
  app.Click(page, 1053);
  for (int id : {1006, 1007, 1008}) EXPECT_TRUE(app.Ctl(page, id)->isEnabled()) << id;

  app.Type(page, 1019, "dev.example.org");
  app.Choose(page, 1004, "TCP Server");
  EXPECT_FALSE(app.Ctl(page, 1009)->isEnabled());
  EXPECT_FALSE(app.Ctl(page, 1019)->isEnabled());
  EXPECT_EQ(app.Label(page, 1056)->text(), U("本地端口"));
  EXPECT_EQ(app.Edit(page, 1019)->text(), "dev.example.org");
  EXPECT_EQ(app.Ip(page, 1009)->text(), "203.0.113.10");
  app.Choose(page, 1004, "UDP Client");
  EXPECT_TRUE(app.Ctl(page, 1009)->isEnabled());
  EXPECT_TRUE(app.Ctl(page, 1019)->isEnabled());
  EXPECT_EQ(app.Label(page, 1056)->text(), U("目标端口"));
  // A typed mode that names no item counts as none: the boxes stay usable.
  app.Choose(page, 1004, "TCP Server");
  app.TypeInList(page, 1004, "TCP");
  EXPECT_EQ(ListPosition(app.Combo(page, 1004)), -1);
  EXPECT_EQ(qobject_cast<ConfigFormPage*>(&page)->ReadForm().net_mode, -1);

  // HEX only decides how the boxes are read: its click converts nothing.
  app.Type(page, 1026, "AB");
  app.Click(page, 1054);
  EXPECT_EQ(app.Edit(page, 1026)->text(), "AB");
  EXPECT_TRUE(app.Button(page, 1054)->isChecked());
}

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (had_) ::setenv("TZ", old_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

TEST_P(FormOnEachPage, GenerateWritesTheLocalTimeInMillisecondsWithEvenEnds) {
  const ScopedTimeZone utc("UTC0");
  auto& form = *qobject_cast<ConfigFormPage*>(&page);
  form.SetClock([] { return LocalTime{2026, 12, 8, 6, 19, 23, 457}; });  // ms 1796710763457: 01 A2 54 4E 8B C1
  app.Click(page, 1032);
  EXPECT_EQ(app.Edit(page, 1028)->text(), "02 A2 54 4E 8B C2 ");
  // 18 characters where typing stops at 17: the whole text still travels.
  EXPECT_EQ(EncodeConfig(form.ReadForm())[215 + 5], 0xC2);
}

TEST(MacGenerator, MakesBothEndsEvenAndWrapsAtFF) {
  EXPECT_EQ(MacText(MacFromMilliseconds(0x01A2544E8BC1)), "02 A2 54 4E 8B C2 ");
  EXPECT_EQ(MacText(MacFromMilliseconds(0xFF00000000FF)), "00 00 00 00 00 00 ");
  EXPECT_EQ(MacText(MacFromMilliseconds(0x0A0B0C0D0E10)), "0A 0B 0C 0D 0E 10 ");
  const ScopedTimeZone utc("UTC0");
  EXPECT_EQ(LocalMilliseconds(LocalTime{1970, 1, 1, 0, 0, 1, 5}), 1005);
  EXPECT_EQ(LocalMilliseconds(LocalTime{1899, 12, 31, 23, 0, 0, 42}), 42);
  {
    // Local time, not UTC: an hour east of Greenwich is an hour earlier in seconds since 1970.
    const ScopedTimeZone cet("CET-1");
    EXPECT_EQ(LocalMilliseconds(LocalTime{1970, 1, 2, 1, 0, 0, 0}), 86'400'000);
  }
}

TEST_P(FormOnEachPage, EveryCommandLogsOneLineWithThePagePrefixLinkOpenOrNot) {
  qobject_cast<ConfigFormPage*>(&page)->SetClock(test::FixedTime);
  const QString prefix = U(pc.prefix);
  const QString other = U(pc.index == MainWindow::kSerialPage ? "UDP发送:" : "串口发送:");
  const std::map<int, QString> frames{
      {1034, "F5 80 E2 00 57 0D "},
      {1035, "F5 80 E3 00 58 0D "},
      {1036, "F5 80 E4 00 59 0D "},
      {1050, "F5 80 EB 00 60 0D "},
      {1055, "F5 80 EC 06 21 03 09 14 05 59 06 0D "},
  };
  for (const auto& [id, frame] : frames) {
    app.window->SetStatusText("x");
    const int before = app.LogLines().size();
    app.Click(page, id);
    const QStringList lines = app.LogLines();
    ASSERT_EQ(lines.size(), before + 1) << id;
    EXPECT_EQ(lines.back(), prefix + frame) << id;
    EXPECT_EQ(app.window->StatusText(), "....") << id;
  }
  app.Click(page, 1033);
  const QString write = app.LogLines().back();
  EXPECT_TRUE(write.startsWith(prefix + "F5 80 E1 DD ")) << write.toStdString();
  EXPECT_EQ(write.size(), prefix.size() + 227 * 3);
  EXPECT_EQ(app.CountLines(prefix), 6);
  EXPECT_EQ(app.CountLines(other), 0);
  if (pc.index == MainWindow::kNetworkPage) {
    // Closed link: the endpoint's box first, then the line all the same.
    EXPECT_EQ(app.modal.messages.size(), 6);
  } else {
    EXPECT_TRUE(app.modal.messages.isEmpty());
  }
}

TEST_P(FormOnEachPage, TheTwoPageListsFillTheirOwnFieldsOfTheRecord) {
  auto& form = *qobject_cast<ConfigFormPage*>(&page);
  app.Choose(page, pc.tx_power, "Level3");
  app.Choose(page, pc.uart_map, "LORA");
  const ConfigRecord rec = EncodeConfig(form.ReadForm());
  EXPECT_EQ(rec[166], 2);  // transmit power
  EXPECT_EQ(rec[170], 1);  // UART mapping
  if (pc.index == MainWindow::kNetworkPage) {
    // The broadcast address is no part of the record.
    app.TypeAddress(page, 1016, "10.1.2.3");
    EXPECT_EQ(EncodeConfig(form.ReadForm()), rec);
  }
}

TEST(FormPages, FotaSelectsTheTransportOfItsPage) {
  PageHarness app;
  app.Click(app.Serial(), 1037);
  ASSERT_NE(app.window->Firmware(), nullptr);
  EXPECT_EQ(app.window->Firmware()->NextLink(), Link::Serial);
  app.Click(app.Network(), 1037);
  EXPECT_EQ(app.window->Firmware()->NextLink(), Link::Udp);
  app.Click(app.Serial(), 1037);
  EXPECT_EQ(app.window->Firmware()->NextLink(), Link::Serial);
}

// Every control of a page lies inside the area its tab gives it and clear of its
// neighbours, labels included, whatever font the system picked.
TEST_P(FormOnEachPage, ControlsFitTheTabAndDoNotOverlap) {
  app.window->ShowPage(pc.index);
  QApplication::processEvents();
  std::vector<QWidget*> parts;
  for (QWidget* w : page.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (qobject_cast<QGroupBox*>(w) || !w->isVisibleTo(&page)) continue;
    parts.push_back(w);
    EXPECT_TRUE(page.rect().contains(w->geometry())) << w->objectName().toStdString() << " "
                                                     << w->accessibleName().toStdString();
  }
  ASSERT_GT(parts.size(), 60u);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    for (std::size_t j = i + 1; j < parts.size(); ++j) {
      EXPECT_FALSE(parts[i]->geometry().intersects(parts[j]->geometry()))
          << parts[i]->accessibleName().toStdString() << " / " << parts[j]->accessibleName().toStdString();
    }
  }
  // Check boxes and the port label show their whole caption.
  for (int id : {1053, 1054}) {
    QWidget* box = app.Ctl(page, id);
    EXPECT_GE(box->width(), box->sizeHint().width()) << id;
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, FormOnEachPage, ::testing::Values(kSerial, kNetwork),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora
