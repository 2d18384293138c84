#include "app/settings.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

#include <array>
#include <limits>

#include "app/main_window.h"
#include "resources/config_layouts.h"
#include "resources/fota_layout.h"
#include "widgets/controls.h"
#include "widgets/dialog_builder.h"
#include "widgets/qt_modal_ui.h"
#include "widgets/translation.h"

namespace velmora {

namespace {

constexpr auto kPort = "serial/port";
constexpr auto kBaud = "serial/baud";
constexpr auto kParity = "serial/parity";
constexpr auto kBroadcast = "network/broadcast";
constexpr auto kFirmwareFolder = "firmware/folder";
constexpr auto kWindowX = "window/x";
constexpr auto kWindowY = "window/y";
constexpr auto kSessionLog = "log/session";
constexpr auto kLanguage = "ui/language";

QString FirmwareFilter() { return QtFileFilter(QString::fromUtf8(res::kFirmwareFileFilter)); }

QComboBox* Combo(const MainWindow& w, int id) {
  return qobject_cast<QComboBox*>(FindControl(w.Page(MainWindow::kSerialPage), id));
}

IpAddressEdit* Broadcast(const MainWindow& w) {
  return qobject_cast<IpAddressEdit*>(FindControl(w.Page(MainWindow::kNetworkPage), res::kIdcBroadcastAddress));
}

QString Text(const QSettings& s, const char* key) {
  const QVariant v = s.value(QLatin1String(key));
  return v.canConvert<QString>() ? v.toString().trimmed() : QString();
}

// Selects the listed item `text`; an item that is not listed changes nothing.
void SelectListed(QComboBox* list, const QString& text) {
  if (!list || text.isEmpty()) return;
  const int i = list->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
  if (i >= 0) list->setCurrentIndex(i);
}

bool ParseAddress(const QString& dotted, std::array<uint8_t, 4>& out) {
  const QStringList parts = dotted.split(QLatin1Char('.'));
  if (parts.size() != 4) return false;
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    const uint v = parts[i].toUInt(&ok);
    if (!ok || v > 255 || parts[i].size() > 3) return false;
    out[static_cast<std::size_t>(i)] = static_cast<uint8_t>(v);
  }
  return true;
}

}  // namespace

AppSettings::AppSettings()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("velmora"),
                                            QStringLiteral("velmora"))) {}

AppSettings::~AppSettings() = default;

QString AppSettings::FileName() const { return settings_->fileName(); }

QString AppSettings::Language() const { return Text(*settings_, kLanguage); }

void AppSettings::Restore(MainWindow& window, QtModalUi& modal) {
  const QSettings& s = *settings_;
  SelectListed(Combo(window, res::kIdcComPort), Text(s, kPort));
  if (QComboBox* baud = Combo(window, res::kIdcBaudRate)) {
    const QString text = Text(s, kBaud);
    bool ok = false;
    const qlonglong rate = text.toLongLong(&ok);
    // A rate the list lacks was typed by the engineer; the list takes any in range.
    if (ok && rate > 0 && rate <= std::numeric_limits<qint32>::max()) {
      if (baud->findText(text) >= 0) {
        SelectListed(baud, text);
      } else if (baud->isEditable()) {
        baud->setEditText(text);
      }
    }
  }
  SelectListed(Combo(window, res::kIdcParity), Text(s, kParity));
  std::array<uint8_t, 4> octets{};
  if (IpAddressEdit* ip = Broadcast(window); ip && ParseAddress(Text(s, kBroadcast), octets)) ip->SetOctets(octets);

  const QString folder = Text(s, kFirmwareFolder);
  if (!folder.isEmpty()) modal.SetStartFolder(FirmwareFilter(), folder);

  bool x_ok = false, y_ok = false;
  const int x = s.value(QLatin1String(kWindowX)).toInt(&x_ok);
  const int y = s.value(QLatin1String(kWindowY)).toInt(&y_ok);
  // Only where the title bar is on a screen of this desktop, so the window can be reached.
  if (x_ok && y_ok) {
    const QPoint title(x + std::min(window.width() / 2, 60), y + 8);
    for (const QScreen* screen : QGuiApplication::screens()) {
      if (screen->availableGeometry().contains(title)) {
        window.move(x, y);
        break;
      }
    }
  }

  if (Text(s, kSessionLog) == QLatin1String("true")) window.SetSessionLog(true);
}

void AppSettings::Save(const MainWindow& window, const QtModalUi& modal) {
  QSettings& s = *settings_;
  if (const QComboBox* port = Combo(window, res::kIdcComPort)) s.setValue(QLatin1String(kPort), port->currentText().trimmed());
  if (const QComboBox* baud = Combo(window, res::kIdcBaudRate)) s.setValue(QLatin1String(kBaud), baud->currentText().trimmed());
  if (const QComboBox* parity = Combo(window, res::kIdcParity))
    s.setValue(QLatin1String(kParity), parity->currentText().trimmed());
  if (const IpAddressEdit* ip = Broadcast(window)) s.setValue(QLatin1String(kBroadcast), ip->text());
  const QString folder = modal.StartFolder(FirmwareFilter());
  if (!folder.isEmpty()) s.setValue(QLatin1String(kFirmwareFolder), folder);
  s.setValue(QLatin1String(kWindowX), window.pos().x());
  s.setValue(QLatin1String(kWindowY), window.pos().y());
  s.setValue(QLatin1String(kSessionLog), window.SessionLogOn());
  s.setValue(QLatin1String(kLanguage), velmora::Language());  // the one in use, not the one read
  s.sync();
}

}  // namespace velmora
