#include "app/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include "app/contact_recorder.h"
#include "app/log_files.h"
#include "core/replace_file.h"
#include "widgets/log_pane.h"
#include "widgets/translation.h"
#include "config/ui/network_page.h"
#include "config/ui/serial_page.h"
#include "discovery/ui/devices_dialog.h"
#include "console/ui/send_dialog.h"
#include "fota/ui/firmware_dialog.h"
#include "mqtt/ui/mqtt_page.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"
#include "records/ui/records_dialog.h"
#include "registry/register_url.h"
#include "resources/layout.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace velmora {

#ifdef Q_OS_WIN
namespace {
constexpr int kAboutCommand = 16;  // system-menu command of the About entry
}
#endif

MainWindow::MainWindow(AppServices& services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      services_(services),
      pump_(services.rx) {
  controls_ = BuildDialog(res::MainDialog(), this);
  setFixedSize(size());

  tabs_ = controls_.As<QTabWidget>(1052);
  status_ = controls_.Label(1005);
  status_->setAlignment(Qt::AlignCenter);

  // The builder made a plain text box for 1049; the Log pane takes its place and id.
  QWidget* placeholder = controls_.Get(1049);
  log_ = new LogPane(this);
  log_->setGeometry(placeholder->geometry());
  log_->setProperty("controlId", 1049);
  log_->setObjectName(placeholder->objectName());
  log_->setAccessibleName(QStringLiteral("Log"));
  delete placeholder;
  controls_.Add(1049, log_);
  connect(log_, &QWidget::customContextMenuRequested, this, &MainWindow::OnLogContextMenu);
  BuildLogMenu();

  traffic_.Watch(pump_);
  pump_.WatchBursts([this](const ClosedBurst& b) {
    if (b.link == Link::Udp) NoteSenders({b.sender});
  });
  answers_.Watch(pump_);
  // The upgrade dialog hears firmware replies before the page of their link sets the status.
  pump_.Subscribe(ReplyKind::Firmware, std::nullopt, [this](const ReplyFrame& f) { ForwardFirmwareReply(f); });
  pages_ = {CreateSerialPage(), CreateNetworkPage(), CreateMqttPage()};
  const auto& tab_names = res::MainDialog().controls.front().items;
  for (std::size_t i = 0; i < pages_.size(); ++i) tabs_->addTab(pages_[i], QString::fromUtf8(tab_names[i]));
  InstallCorner();
  OrderTabStops();
  ShowPage(kSerialPage);
  records_ = new RecordsDialog(services_.modal, this);
  AddToolsEntry(QT_TR_NOOP("设备记录..."), [this] { ShowRecords(); });
  contacts_ = new ContactRecorder(pump_, services_.serial, services_.udp, *this, this);
  SetRegister(RegisterUrlFromEnvironment());

  driver_ = std::make_unique<PumpDriver>(pump_, services_.rx);
  // The endpoint outlives the window: it reports ignored datagrams here only while the
  // window exists.
  traffic_.Watch(services_.udp);
}

MainWindow::~MainWindow() { services_.udp.SetIgnoredHandler({}); }

void MainWindow::BuildLogMenu() {
  log_menu_ = new QMenu(QString::fromUtf8(res::kLogMenuTitle), this);
  // The keys work in the pane itself; the menu shows them.
  auto keys = [](QAction* a, QKeySequence::StandardKey key) {
    a->setShortcut(key);
    a->setShortcutContext(Qt::WidgetShortcut);
  };
  for (const res::MenuItem& item : res::LogMenu()) {
    if (item.command == res::kCmdSessionLog) log_menu_->addSeparator();
    QAction* a = log_menu_->addAction(QString());
    SetCaption(a, kLayoutContext, item.text);
    a->setData(item.command);
    switch (item.command) {
      case res::kCmdCopy:
        keys(a, QKeySequence::Copy);
        connect(a, &QAction::triggered, log_, &LogPane::Copy);
        break;
      case res::kCmdClear:
        connect(a, &QAction::triggered, log_, &LogPane::ClearAll);
        break;
      case res::kCmdSelectAll:
        keys(a, QKeySequence::SelectAll);
        connect(a, &QAction::triggered, log_, &LogPane::SelectAll);
        break;
      case res::kCmdFind:
        keys(a, QKeySequence::Find);
        connect(a, &QAction::triggered, log_, &LogPane::ShowFindBar);
        break;
      case res::kCmdSaveAs:
        connect(a, &QAction::triggered, this, &MainWindow::SaveLogAs);
        break;
      case res::kCmdSessionLog:
        a->setCheckable(true);
        session_log_action_ = a;
        connect(a, &QAction::triggered, this, [this](bool on) { SetSessionLog(on); });
        break;
      default:
        break;
    }
  }
}

void MainWindow::SaveLogAs() {
  const QString path = services_.modal.GetSaveFileName(tr("文本文件 (*.txt);;所有文件 (*)"), QStringLiteral("txt"));
  if (path.isEmpty()) return;
  if (QFileInfo::exists(path) && services_.modal.ShowMessage(tr("%1 已存在,替换它吗?").arg(QFileInfo(path).fileName()),
                                                             MessageButtons::OkCancel) != MessageAnswer::Ok)
    return;
  QString error;
  // The Log holds MQTT credentials as they were written and read.
  if (!ReplaceFileContents(path, log_->AllText().toUtf8(), FileAccess::OwnerOnly, &error))
    services_.modal.ShowMessage(tr("日志未保存:\n%1").arg(error));
}

bool MainWindow::SetSessionLog(bool on) {
  if (!on) {
    if (session_log_) session_log_->Stop();
  } else {
    if (!session_log_) session_log_ = std::make_unique<SessionLog>();
    QString error;
    if (!session_log_->Start(&error)) {
      AppendLog(tr("[日志]: 会话日志无法打开 %1").arg(error) + QLatin1String("\r\n"));
      on = false;
    }
  }
  session_log_action_->setChecked(on);
  return on;
}

bool MainWindow::SessionLogOn() const { return session_log_ && session_log_->IsOn(); }

QString MainWindow::SessionLogPath() const { return session_log_ ? session_log_->Path() : QString(); }

QWidget* MainWindow::CreateSerialPage() {
  auto* page = new SerialPage(*this, services_.serial);
  SubscribeConfigPage(page, Link::Serial);
  serial_page_ = page;
  return page;
}

QWidget* MainWindow::CreateNetworkPage() {
  auto* page = new NetworkPage(*this, services_.udp, services_.modal);
  SubscribeConfigPage(page, Link::Udp);
  return page;
}

void MainWindow::SubscribeConfigPage(ConfigFormPage* page, Link link) {
  for (ReplyKind kind : {ReplyKind::Config, ReplyKind::Firmware}) {
    pump_.Subscribe(kind, link, [page](const ReplyFrame& f) { page->HandleReply(f); });
  }
}

QWidget* MainWindow::CreateMqttPage() {
  auto* page = new MqttPage(*this, services_.serial, services_.udp);
  // The credentials come back over whichever link carried the request.
  pump_.Subscribe(ReplyKind::Mqtt, std::nullopt, [page](const ReplyFrame& f) { page->HandleReply(f); });
  return page;
}

void MainWindow::OpenFirmwareDialog(Link link) {
  if (!fota_) {
    fota_ = new FirmwareDialog(services_.serial, services_.udp, services_.modal, this);
    fota_->SetStartCheck([this](Link l) { return MaySendToAll(l, tr("固件升级")); });
    for (int page : {kSerialPage, kNetworkPage}) {
      connect(fota_, &FirmwareDialog::UploadChanged, static_cast<ConfigFormPage*>(pages_[page]), &ConfigFormPage::ShowUpload);
    }
    connect(fota_, &FirmwareDialog::UploadEnded, contacts_, &ContactRecorder::RecordUpload);
  }
  if (fota_->Transfer().Awaiting() && fota_->Transfer().TransferLink() != link) {
    AppendLog((fota_->Transfer().TransferLink() == Link::Serial
                   ? tr("[FOTA]: 固件正在通过串口升级,完成或停止后才能改用UDP.")
                   : tr("[FOTA]: 固件正在通过UDP升级,完成或停止后才能改用串口.")) +
              QLatin1String("\r\n"));
  }
  fota_->SetLink(link);
  fota_->ShowNormal();
}

void MainWindow::ShowRecords() {
  records_->show();
  records_->raise();
  records_->activateWindow();
}

void MainWindow::SetRegister(const QString& url) {
  contacts_->SetRegister(url);
  records_->SetRegister(url);
}

void MainWindow::ReportSerialSendFailed() { serial_page_->HandleSerialSendFailed(); }

void MainWindow::NoteSenders(const std::vector<PeerAddress>& senders) {
  UdpEndpoint& udp = services_.udp;
  if (!udp.IsOpen() || !udp.HearsEverySender()) return;
  if (heard_generation_ != udp.OpenGeneration()) {
    heard_.clear();
    heard_generation_ = udp.OpenGeneration();
  }
  bool added = false;
  for (const PeerAddress& s : senders) {
    if (std::find(heard_.begin(), heard_.end(), s) != heard_.end()) continue;
    heard_.push_back(s);
    added = true;
  }
  if (added && heard_.size() > 1) AppendLog(SeveralDevicesLine(heard_));
}

bool MainWindow::MaySendToAll(Link link, const QString& what) {
  UdpEndpoint& udp = services_.udp;
  if (link != Link::Udp || !udp.IsOpen() || !udp.HearsEverySender()) return true;
  if (heard_generation_ != udp.OpenGeneration() || heard_.size() < 2) return true;
  QStringList names;
  for (const PeerAddress& p : heard_) names << p.Text();
  const QString text = tr("广播地址 %1 上有 %2 台设备应答过:\n%3\n\n\"%4\" 会发往所有这些设备. 继续吗?")
                           .arg(udp.DeviceAddress())
                           .arg(heard_.size())
                           .arg(names.join(QLatin1Char('\n')), QString(what).remove(QLatin1Char('&')));
  return services_.modal.ShowMessage(text, MessageButtons::OkCancel) == MessageAnswer::Ok;
}

void MainWindow::OpenDevicesDialog() {
  if (!devices_) {
    auto* network = static_cast<NetworkPage*>(pages_[kNetworkPage]);
    devices_ = new DevicesDialog(services_.udp, traffic_, [network] { return network->AddressText(); }, this);
    connect(devices_, &DevicesDialog::ConnectRequested, this, [this, network](const QString& address) {
      ShowPage(kNetworkPage);
      network->ConnectTo(address);
    });
    connect(devices_, &DevicesDialog::SearchFinished, this, [this](const QString&, const std::vector<FoundDevice>& found) {
      std::vector<PeerAddress> senders;
      for (const FoundDevice& d : found) senders.push_back(d.from);
      NoteSenders(senders);
    });
  }
  devices_->show();
  devices_->raise();
  devices_->activateWindow();
}

void MainWindow::AwaitAnswer(Link link, uint8_t code, const QString& command) {
  answers_.Await(link, code, command);
  contacts_->Expect(link, code);
}

void MainWindow::LinkChanged(Link link, bool open) {
  if (!open) {
    answers_.Forget(link);
    contacts_->Forget(link);
  }
  if (console_) console_->ShowLinks();
}

void MainWindow::OpenSendDialog() {
  if (!console_) console_ = new SendDialog(*this, services_.serial, services_.udp, services_.modal, this);
  console_->ShowNormal();
}

void MainWindow::ForwardFirmwareReply(const ReplyFrame& frame) {
  if (fota_) fota_->HandleFirmwareReply(frame);
}

void MainWindow::AppendLog(const QString& text) {
  const QString entry = LogStamp(clock_()) + text;
  log_->AppendEntry(entry);
  if (session_log_) session_log_->Write(entry);
}

void MainWindow::SetStatusText(const QString& text) { status_->setText(text); }

QString MainWindow::StatusText() const { return status_->text(); }

void MainWindow::ShowPage(int index) {
  if (index < 0 || index >= static_cast<int>(pages_.size())) return;
  tabs_->setCurrentIndex(index);
}

QWidget* MainWindow::Page(int index) const {
  return index >= 0 && index < static_cast<int>(pages_.size()) ? pages_[static_cast<std::size_t>(index)] : nullptr;
}

void MainWindow::OnLogContextMenu() {
  // At the cursor, not where the request says: the keyboard's menu key reports the caret.
  log_menu_->popup(QCursor::pos());
}

void MainWindow::ShowAbout() {
  if (about_) {
    about_->raise();
    return;
  }
  auto* dlg = new QDialog(this, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  const ControlMap m = BuildDialog(res::AboutDialog(), dlg);
  dlg->setFixedSize(dlg->size());
  auto* ok = qobject_cast<QPushButton*>(m.Button(1));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, dlg, &QDialog::accept);
  dlg->setModal(true);
  about_ = dlg;
  dlg->show();
}

void MainWindow::InstallCorner() {
  auto* corner = new QWidget(tabs_);
  auto* row = new QHBoxLayout(corner);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  const char* name = QT_TR_NOOP("配置文件");
  auto* menu = new QMenu(corner);
  SetCaption(menu, staticMetaObject, name);
  QAction* save = menu->addAction(QString());
  SetCaption(save, staticMetaObject, QT_TR_NOOP("保存配置文件..."));
  connect(save, &QAction::triggered, this, &MainWindow::SaveProfile);
  QAction* load = menu->addAction(QString());
  SetCaption(load, staticMetaObject, QT_TR_NOOP("载入配置文件..."));
  connect(load, &QAction::triggered, this, &MainWindow::LoadProfile);
  profile_button_ = new QToolButton(corner);
  profile_button_->setObjectName(QStringLiteral("profileMenu"));
  SetCaption(profile_button_, staticMetaObject, name);
  SetToolTip(profile_button_, staticMetaObject, name);
  profile_button_->setAutoRaise(true);
  profile_button_->setPopupMode(QToolButton::InstantPopup);
  profile_button_->setMenu(menu);
  row->addWidget(profile_button_);

  InstallToolsMenu(row);
  AddToolsEntry(QT_TR_NOOP("设备列表..."), [this] { OpenDevicesDialog(); });
  AddToolsEntry(QT_TR_NOOP("发送数据..."), [this] { OpenSendDialog(); });
  InstallLanguageMenu(row);

  InstallAboutEntry(row);
  tabs_->setCornerWidget(corner, Qt::TopRightCorner);
}

void MainWindow::InstallToolsMenu(QHBoxLayout* corner) {
  const char* name = QT_TR_NOOP("工具");
  tools_button_ = new QToolButton(corner->parentWidget());
  tools_button_->setObjectName(QStringLiteral("toolsMenu"));
  SetCaption(tools_button_, staticMetaObject, name);
  SetToolTip(tools_button_, staticMetaObject, name);
  tools_button_->setAutoRaise(true);
  tools_button_->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(tools_button_);
  SetCaption(menu, staticMetaObject, name);
  tools_button_->setMenu(menu);
  corner->addWidget(tools_button_);
}

QAction* MainWindow::AddToolsEntry(const char* caption, std::function<void()> triggered) {
  QAction* a = tools_button_->menu()->addAction(QString());
  SetCaption(a, staticMetaObject, caption);
  connect(a, &QAction::triggered, this, std::move(triggered));
  return a;
}

void MainWindow::InstallLanguageMenu(QHBoxLayout* corner) {
  language_button_ = new QToolButton(corner->parentWidget());
  language_button_->setObjectName(QStringLiteral("languageMenu"));
  language_button_->setAutoRaise(true);
  language_button_->setPopupMode(QToolButton::InstantPopup);
  SetToolTip(language_button_, staticMetaObject, QT_TR_NOOP("语言"));
  auto* menu = new QMenu(language_button_);
  auto* group = new QActionGroup(menu);
  // Each language is named in itself, so one who reads neither still finds their own.
  for (const LanguageName& language : Languages()) {
    QAction* a = menu->addAction(QString::fromUtf8(language.name));
    a->setCheckable(true);
    a->setData(QString::fromLatin1(language.code));
    group->addAction(a);
    connect(a, &QAction::triggered, this, [code = a->data().toString()] { SetLanguage(code); });
  }
  language_button_->setMenu(menu);
  const auto show = [this, menu] {
    for (QAction* a : menu->actions()) {
      a->setChecked(a->data().toString() == Language());
      if (a->isChecked()) language_button_->setText(a->text());
    }
    language_button_->setAccessibleName(tr("语言") + QLatin1String(": ") + language_button_->text());
  };
  show();
  corner->addWidget(language_button_);
  OnLanguageChange(language_button_, [this, show] {
    show();
    // The corner takes the width its new texts need now, not at the next layout pass.
    tabs_->cornerWidget(Qt::TopRightCorner)->adjustSize();
    QEvent relayout(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(tabs_, &relayout);
  });
}

QString MainWindow::ProfileFilter() const { return tr("配置文件 (*.json);;所有文件 (*)"); }

// Tab reads the window as the engineer does: the tabs and the buttons in their corner,
// then the page shown, then the Log pane beside them. The pages and the corner join the
// focus chain after the Log pane, in the order they are placed.
void MainWindow::OrderTabStops() {
  QWidget* previous = tabs_->tabBar();
  for (QToolButton* button : tabs_->cornerWidget(Qt::TopRightCorner)->findChildren<QToolButton*>()) {
    QWidget::setTabOrder(previous, button);
    previous = button;
  }
  // The last stop of the last page; the edit inside a list hands its focus to the list.
  QWidget* last = previousInFocusChain();
  while (last->focusPolicy() == Qt::NoFocus || last->focusProxy()) last = last->previousInFocusChain();
  if (last != log_) QWidget::setTabOrder(last, log_);
}

ConfigFormPage* MainWindow::ShownConfigPage() const {
  return static_cast<ConfigFormPage*>(pages_[tabs_->currentIndex() == kNetworkPage ? kNetworkPage : kSerialPage]);
}

MqttPage* MainWindow::Mqtt() const { return static_cast<MqttPage*>(pages_[kMqttPage]); }

void MainWindow::SaveProfile() {
  const QString path = services_.modal.GetSaveFileName(ProfileFilter(), QStringLiteral("json"));
  if (path.isEmpty()) return;
  // The dialog does not ask before replacing a file; a site's known-good profile is
  // worth the question.
  if (QFileInfo::exists(path) && services_.modal.ShowMessage(tr("%1 已存在,替换它吗?").arg(QFileInfo(path).fileName()),
                                                             MessageButtons::OkCancel) != MessageAnswer::Ok)
    return;
  const Profile profile{ShownConfigPage()->ReadForm(), Mqtt()->Credentials(), QString()};
  QString error;
  if (!WriteProfileFile(path, profile, &error)) {
    services_.modal.ShowMessage(tr("配置文件未保存:\n%1").arg(error));
    return;
  }
  AppendLog(tr("[配置文件]: 已保存 %1").arg(path) + QLatin1String("\r\n"));
}

void MainWindow::LoadProfile() {
  const QString path = services_.modal.GetOpenFileName(ProfileFilter(), QString());
  if (path.isEmpty()) return;
  const ProfileResult read = ReadProfileFile(path);
  if (!read.profile) {
    services_.modal.ShowMessage(tr("配置文件未载入:\n%1").arg(read.error));
    return;
  }
  if (read.profile->config) ShownConfigPage()->ShowSavedForm(*read.profile->config);
  if (read.profile->mqtt) Mqtt()->ShowCredentials(*read.profile->mqtt);
  AppendLog(tr("[配置文件]: 已载入 %1").arg(path) + QLatin1String("\r\n"));
}

void MainWindow::InstallAboutEntry([[maybe_unused]] QHBoxLayout* corner) {
#ifdef Q_OS_WIN
  // The system menu keeps the language the window opened in.
  const QString text = LayoutText(res::kAboutMenuText);
  if (HMENU sys = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE)) {
    AppendMenuW(sys, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(sys, MF_STRING, kAboutCommand, reinterpret_cast<LPCWSTR>(text.utf16()));
  }
#else
  // No system menu to extend here: a "?" button in the tab row's corner, and F1.
  auto* about = new QToolButton(corner->parentWidget());
  about->setText(QStringLiteral("?"));
  about->setAutoRaise(true);
  const auto name = [about] {
    const QString plain = LayoutText(res::kAboutMenuText).remove(QLatin1Char('&'));
    about->setToolTip(plain);
    about->setAccessibleName(plain);
  };
  name();
  OnLanguageChange(about, name);
  corner->addWidget(about);
  connect(about, &QToolButton::clicked, this, &MainWindow::ShowAbout);
#endif
  auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
  connect(f1, &QShortcut::activated, this, &MainWindow::ShowAbout);
}

#ifdef Q_OS_WIN
bool MainWindow::nativeEvent(const QByteArray& type, void* message, qintptr* result) {
  const MSG* msg = static_cast<const MSG*>(message);
  if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kAboutCommand) {
    ShowAbout();
    *result = 0;
    return true;
  }
  return QWidget::nativeEvent(type, message, result);
}
#endif

}  // namespace velmora
