#include "config/ui/serial_page.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStyledItemDelegate>

#include <algorithm>
#include <limits>

#include "widgets/controls.h"
#include "widgets/translation.h"
#include "transport/command_senders.h"
#include "transport/serial_port.h"
#include "transport/serial_port_list.h"

namespace velmora {

namespace {

using namespace res;

ConfigPageTraits SerialTraits(SerialPort& serial) {
  return ConfigPageTraits{
      SerialConfigDialog(),
      kSerialFormLists,
      [&serial](uint8_t code, std::span<const uint8_t> payload, QString& hex) {
        return SendCommandSerial(serial, code, payload, hex);
      },
      Link::Serial,
  };
}

// The baud rate list's text, chosen or typed: a positive decimal number, else 0.
qint32 BaudRate(const QComboBox* list) {
  const QString text = list->currentText().trimmed();
  if (text.isEmpty() || text.size() > 10) return 0;
  for (const QChar c : text) {
    if (!c.isDigit() || c.unicode() > u'9') return 0;
  }
  const qint64 v = text.toLongLong();
  return v > 0 && v <= std::numeric_limits<qint32>::max() ? static_cast<qint32>(v) : 0;
}

// The parity list's position, or the item a typed text names (any letter case), else -1.
int ParityPosition(const QComboBox* list) {
  const int pos = ListPosition(list);
  if (pos >= 0) return pos;
  const QString text = list->currentText().trimmed();
  for (int i = 0; i < list->count(); ++i) {
    if (text.compare(list->itemText(i), Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

// Where the system puts serial devices and the adapters' lasting names.
const char* const kDeviceFolders[] = {"/dev", "/dev/serial/by-id"};

constexpr int kDescriptionRole = Qt::UserRole;
constexpr int kSerialNumberRole = Qt::UserRole + 1;

// What the list shows and Open takes: the full path, so two adapters never look alike;
// on Windows the COM name the engineer knows.
QString ListedText(const SerialPortEntry& e) {
#ifdef Q_OS_WIN
  return e.name;
#else
  return e.path;
#endif
}

QString Description(const SerialPortEntry& e) {
  QStringList parts;
  for (const QString& s : {e.description, e.manufacturer}) {
    if (!s.isEmpty() && !parts.contains(s)) parts << s;
  }
  if (!e.serial_number.isEmpty()) {
    parts << QCoreApplication::translate("velmora::SerialPage", "序列号 %1").arg(e.serial_number);
  }
  return parts.join(QStringLiteral(", "));
}

// A bare name lives in /dev, as for the port itself.
QString FullPath(const QString& port) {
  return QDir::cleanPath(port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port);
}

// The drop-down shows each port's description after its path; the edit field keeps the
// path alone.
class PortItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString description = index.data(kDescriptionRole).toString();
    if (!description.isEmpty()) option->text += QStringLiteral("  ") + description;
  }
};

}  // namespace

SerialPage::SerialPage(PageHost& host, SerialPort& serial, QWidget* parent)
    : ConfigFormPage(host, SerialTraits(serial), parent), serial_(serial) {
  SetListPosition(Controls().Combo(kIdcBaudRate), 7);  // 115200
  SetListPosition(Controls().Combo(kIdcParity), 0);    // NO
  BindClicks(Controls(), this,
             ClickTable<SerialPage>{
                 {kIdcOpenClose, &SerialPage::OnOpenClose},
                 {kIdcRefreshPorts, &SerialPage::RefreshPorts},
             });
  QComboBox* ports = Controls().Combo(kIdcComPort);
  ports->setItemDelegate(new PortItemDelegate(ports));
  connect(ports, &QComboBox::currentTextChanged, this, [this] { ShowPortTip(); });
  // The device folders are watched, never polled: an idle tool wakes for nothing.
  watcher_ = new QFileSystemWatcher(this);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { OnDevicesChanged(); });
  WatchFolders();
  // A hang-up is heard by the reader even when nothing is being written.
  serial_.SetLineLostHandler(
      [this] { QMetaObject::invokeMethod(this, [this] { OnDevicesChanged(); }, Qt::QueuedConnection); });
  RefreshPorts();
  // The descriptions are in words.
  OnLanguageChange(this, [this] { FillPorts(true); });
}

SerialPage::~SerialPage() { serial_.SetLineLostHandler({}); }

void SerialPage::RefreshPorts() { FillPorts(false); }

void SerialPage::SetPortFolders(const QStringList& folders) {
  port_folders_.clear();
  for (const QString& f : folders) port_folders_ << QDir::cleanPath(QFileInfo(f).absoluteFilePath());
  OnDevicesChanged();
}

void SerialPage::WatchFolders() {
  QStringList wanted;
  for (const char* f : kDeviceFolders) wanted << QString::fromUtf8(f);
  wanted << port_folders_;
  const QStringList watched = watcher_->directories();
  for (const QString& f : watched) {
    if (!wanted.contains(f)) watcher_->removePath(f);
  }
  // A missing folder (by-id before the first adapter) is added when its parent changes.
  for (const QString& f : wanted) {
    if (!watched.contains(f) && QFileInfo(f).isDir()) watcher_->addPath(f);
  }
}

void SerialPage::FillPorts(bool keep_text) {
  QComboBox* ports = Controls().Combo(kIdcComPort);
  const QString text = ports->currentText();
  std::vector<SerialPortEntry> entries = SerialPortList::Ports();
  for (const QString& folder : port_folders_) {
    const QFileInfoList found =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& info : found) {
      const QString path = QDir::cleanPath(info.absoluteFilePath());
      if (!SerialPortList::Exists(path)) continue;
      SerialPortEntry e;
      e.name = info.fileName();
      e.path = path;
      entries.push_back(std::move(e));
    }
  }
  const QSignalBlocker quiet(ports);
  ports->clear();
  int widest = 0;
  const QFontMetrics metrics(ports->view()->font());
  for (const SerialPortEntry& e : entries) {
    const QString listed = ListedText(e);
    if (ports->findText(listed) >= 0) continue;
    const QString description = Description(e);
    ports->addItem(listed);
    const int i = ports->count() - 1;
    ports->setItemData(i, description, kDescriptionRole);
    ports->setItemData(i, e.serial_number, kSerialNumberRole);
    ports->setItemData(i, description.isEmpty() ? e.path : e.path + QLatin1Char('\n') + description, Qt::ToolTipRole);
    widest = std::max(widest, metrics.horizontalAdvance(listed + QStringLiteral("  ") + description));
  }
  // The drop-down is as wide as its longest line; the field itself keeps its place.
  ports->view()->setMinimumWidth(widest + 2 * metrics.averageCharWidth() + 24);
  if (keep_text) {
    const int i = ports->findText(text);
    if (i >= 0) {
      ports->setCurrentIndex(i);
    } else {
      ports->setCurrentIndex(-1);
      ports->setEditText(text);
    }
  } else {
    SetListPosition(ports, 0);  // none when the list is empty
  }
  ShowPortTip();
}

void SerialPage::ShowPortTip() {
  QComboBox* ports = Controls().Combo(kIdcComPort);
  const QString text = ports->currentText().trimmed();
  const int i = ports->findText(text);
  ports->setToolTip(i >= 0 ? ports->itemData(i, Qt::ToolTipRole).toString() : text);
}

bool SerialPage::InWatchedFolder(const QString& path) const {
  return watcher_->directories().contains(QFileInfo(FullPath(path)).absolutePath());
}

void SerialPage::OnDevicesChanged() {
  WatchFolders();
  // Ports elsewhere (a pseudo-terminal typed by hand) are let go on the next failed write,
  // as they cannot be seen coming back.
  if (serial_.IsOpen() && InWatchedFolder(serial_.Port()) &&
      (serial_.LineLost() || !SerialPortList::Exists(serial_.Port()))) {
    const QString port = serial_.Port();
    LetGoOfLostPort();
    Log(tr("[COM]: 串口设备已移除:%1").arg(port) + QLatin1String("\r\n"));
  }
  FillPorts(true);
  ReopenReturnedPort();
}

void SerialPage::LetGoOfLostPort() {
  const QString port = serial_.Port();
  QString serial_number;
  const QComboBox* ports = Controls().Combo(kIdcComPort);
  if (const int i = ports->findText(port); i >= 0) serial_number = ports->itemData(i, kSerialNumberRole).toString();
  if (InWatchedFolder(port)) lost_ = Lost{port, serial_number, serial_.Baud(), serial_.Parity()};
  serial_.Close();
  ShowLinkState(false);
}

void SerialPage::ReopenReturnedPort() {
  if (!lost_ || serial_.IsOpen()) return;
  const bool there = SerialPortList::Exists(lost_->path);
  if (!there) lost_->seen_gone = true;
  QString path;
  if (there && lost_->seen_gone) {
    path = lost_->path;
  } else if (!there && !lost_->serial_number.isEmpty()) {
    // The same adapter in another socket comes back under another name.
    const QComboBox* ports = Controls().Combo(kIdcComPort);
    for (int i = 0; i < ports->count() && path.isEmpty(); ++i) {
      if (ports->itemData(i, kSerialNumberRole).toString() == lost_->serial_number) path = ports->itemText(i);
    }
  }
  // A fresh node may still belong to the system alone and refuse to open; handing it to
  // the user is another folder change, which tries again.
  if (path.isEmpty() || !serial_.Open(path, lost_->baud, lost_->parity)) return;
  lost_.reset();
  QComboBox* ports = Controls().Combo(kIdcComPort);
  const int i = ports->findText(path);
  if (i >= 0) {
    ports->setCurrentIndex(i);
  } else {
    ports->setEditText(path);
  }
  ShowLinkState(true);
  Log(tr("[COM]: 串口设备已重新连接,已重新打开:%1").arg(path) + QLatin1String("\r\n"));
}

void SerialPage::OnOpenClose() {
  lost_.reset();  // the engineer's choice stands over waiting for an adapter
  if (serial_.IsOpen()) {
    serial_.Close();
    ShowLinkState(false);
    Log(tr("[COM]: 关闭串口成功.") + QLatin1String("\r\n"));
    return;
  }
  // A listed port or a device path typed by the engineer (a USB adapter Windows or the
  // system did not list yet, a pseudo-terminal).
  const QString port = Controls().Combo(kIdcComPort)->currentText().trimmed();
  if (port.isEmpty()) return;
  const QComboBox* baud_list = Controls().Combo(kIdcBaudRate);
  const qint32 baud = BaudRate(baud_list);
  if (baud == 0) {
    Log(tr("[COM]: 波特率无效:%1").arg(baud_list->currentText()) + QLatin1String("\r\n"));
    return;
  }
  const QComboBox* parity_list = Controls().Combo(kIdcParity);
  const int parity = ParityPosition(parity_list);
  if (parity < 0) {
    Log(tr("[COM]: 校验方式无效:%1").arg(parity_list->currentText()) + QLatin1String("\r\n"));
    return;
  }
  if (!serial_.Open(port, baud, parity)) {
    ShowLinkState(false);
    Log(tr("[COM]: 打开串口失败:%1").arg(port) + QLatin1String("\r\n"));
    return;
  }
  ShowLinkState(true);
  Log(tr("[COM]: 打开串口成功.") + QLatin1String("\r\n"));
}

void SerialPage::HandleSerialSendFailed() {
  // A port the engineer has not opened says nothing more: the frame is logged as tried.
  if (!serial_.IsOpen()) return;
  if (serial_.LineLost()) {
    // The adapter was pulled or the far end hung up: the port is no use until opened
    // again, so it is let go and the row is ready for that.
    LetGoOfLostPort();
    Log(tr("[COM]: 串口已断开,发送失败,已关闭串口.") + QLatin1String("\r\n"));
    return;
  }
  Log(tr("[COM]: 串口发送失败,数据未发出.") + QLatin1String("\r\n"));
}

void SerialPage::ShowLinkState(bool open) {
  SetCaption(Controls().Button(kIdcOpenClose), staticMetaObject, open ? QT_TR_NOOP("关闭") : QT_TR_NOOP("打开"));
  for (int id : {kIdcComPort, kIdcBaudRate, kIdcParity, kIdcRefreshPorts}) Controls().Get(id)->setEnabled(!open);
  Host().LinkChanged(Link::Serial, open);
}

}  // namespace velmora
