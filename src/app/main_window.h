#pragma once

#include <QPointer>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/app_services.h"
#include "log/answer_watch.h"
#include "log/log_sink.h"
#include "log/log_stamp.h"
#include "log/traffic_log.h"
#include "widgets/dialog_builder.h"
#include "widgets/page_host.h"
#include "protocol/command_frame.h"
#include "protocol/pump_driver.h"
#include "protocol/receive_pump.h"

class QAction;
class QLabel;
class QMenu;
class QTabWidget;
class QDialog;
class QHBoxLayout;
class QToolButton;

namespace velmora {

class ContactRecorder;
class DevicesDialog;
class FirmwareDialog;
class MqttPage;
class ConfigFormPage;
class SerialPage;
class RecordsDialog;
class SendDialog;
class LogPane;
class SessionLog;

class MainWindow : public QWidget, public LogSink, public PageHost {
  Q_OBJECT
 public:
  enum PageIndex { kSerialPage = 0, kNetworkPage = 1, kMqttPage = 2 };

  explicit MainWindow(AppServices& services, QWidget* parent = nullptr);
  ~MainWindow() override;

  // A stamp line from the local time, then the text, at the very end of the Log pane.
  void AppendLog(const QString& text) override;
  void SetStatusText(const QString& text) override;
  QString StatusText() const;

  // 0 serial, 1 network, 2 MQTT; any other index changes nothing.
  void ShowPage(int index);
  QWidget* Page(int index) const;

  void ShowAbout();

  // The profile menu's two entries. Saving takes the configuration page shown (the serial
  // page while MQTT is shown) and the MQTT page's credentials; loading fills the same
  // controls as a device reply does. Neither sends anything.
  void SaveProfile();
  void LoadProfile();
  QToolButton* ProfileButton() const { return profile_button_; }
  // The tools menu beside it: the windows that sit around the pages.
  QToolButton* ToolsButton() const { return tools_button_; }
  // The language menu beside it: every window turns to the chosen language at once.
  QToolButton* LanguageButton() const { return language_button_; }

  // The FOTA buttons: the firmware upgrade dialog, created on first use, then shown again
  // for uploads over `link`. An upload in progress keeps its link: the dialog comes to the
  // front and the Log pane says which link it runs on.
  void OpenFirmwareDialog(Link link) override;
  // Replies with code 0xE5 from either link go to the upgrade dialog, once it exists.
  void ForwardFirmwareReply(const ReplyFrame& frame);
  void ReportSerialSendFailed() override;
  bool MaySendToAll(Link link, const QString& what) override;

  // The devices dialog from the tools menu, created on first use.
  void OpenDevicesDialog();
  // Null until first opened.
  DevicesDialog* Devices() const { return devices_; }
  // Null until a FOTA button first opens it.
  FirmwareDialog* Firmware() const { return fota_; }

  // The pages' commands whose answers are awaited. Tests shorten the wait.
  void AwaitAnswer(Link link, uint8_t code, const QString& command) override;
  void LinkChanged(Link link, bool open) override;
  void SetAnswerWait(std::chrono::milliseconds wait) { answers_.SetWait(wait); }
  const AnswerWatch& Answers() const { return answers_; }

  // The Tools menu's send console, created on first use, then shown again.
  void OpenSendDialog();
  // Null until first opened.
  SendDialog* Console() const { return console_; }

  // Tests fix the time the stamp lines show.
  void SetClock(std::function<LocalTime()> clock) { clock_ = std::move(clock); }

  const ControlMap& Controls() const { return controls_; }
  LogPane* Log() const { return log_; }
  QTabWidget* Tabs() const { return tabs_; }
  ReceivePump& Pump() { return pump_; }
  PumpDriver& Driver() { return *driver_; }
  AppServices& Services() { return services_; }
  QMenu* LogMenu() const { return log_menu_; }

  // The Log pane's text into a file the engineer names, as UTF-8; an existing file is
  // replaced whole or not at all.
  void SaveLogAs();
  // The session log: while it is on, every entry also goes to this run's file. False, and
  // the option off, when the file cannot be opened.
  bool SetSessionLog(bool on);
  bool SessionLogOn() const;
  QString SessionLogPath() const;
  // Lives with the main window; the tools menu shows it, not modal.
  RecordsDialog* Records() const { return records_; }
  void ShowRecords();
  // The device register the window records its contacts in and the record dialog reads
  // (see register_url.h); empty: none. From the start VELMORA_REGISTER, else the default.
  void SetRegister(const QString& url);
  ContactRecorder& Contacts() const { return *contacts_; }

 private:
  void OnLogContextMenu();
  void BuildLogMenu();
  // The tab row's corner: the profile menu, and the About entry where it lives there.
  void InstallCorner();
  void InstallAboutEntry(QHBoxLayout* corner);
  void InstallLanguageMenu(QHBoxLayout* corner);
  void InstallToolsMenu(QHBoxLayout* corner);
  // An entry of the tools menu; `caption` is marked with QT_TR_NOOP in MainWindow's context.
  QAction* AddToolsEntry(const char* caption, std::function<void()> triggered);
  QString ProfileFilter() const;
  void OrderTabStops();
  ConfigFormPage* ShownConfigPage() const;
  MqttPage* Mqtt() const;
  // Each creates one page of the tab control and connects its replies.
  QWidget* CreateSerialPage();
  QWidget* CreateNetworkPage();
  QWidget* CreateMqttPage();
  // Senders heard on the open broadcast link; the Log says when more than one answers.
  void NoteSenders(const std::vector<PeerAddress>& senders);
  // Configuration and firmware replies of `link` go to the page.
  void SubscribeConfigPage(ConfigFormPage* page, Link link);
#ifdef Q_OS_WIN
  bool nativeEvent(const QByteArray& type, void* message, qintptr* result) override;
#endif

  AppServices& services_;
  ControlMap controls_;
  QTabWidget* tabs_ = nullptr;
  LogPane* log_ = nullptr;
  QLabel* status_ = nullptr;
  QMenu* log_menu_ = nullptr;
  QAction* session_log_action_ = nullptr;
  std::unique_ptr<SessionLog> session_log_;
  QToolButton* profile_button_ = nullptr;
  QToolButton* language_button_ = nullptr;
  QToolButton* tools_button_ = nullptr;
  std::array<QWidget*, 3> pages_{};
  SerialPage* serial_page_ = nullptr;
  QPointer<QDialog> about_;
  RecordsDialog* records_ = nullptr;
  ContactRecorder* contacts_ = nullptr;
  FirmwareDialog* fota_ = nullptr;
  DevicesDialog* devices_ = nullptr;
  std::vector<PeerAddress> heard_;  // on the broadcast link of open generation heard_generation_
  int heard_generation_ = -1;
  SendDialog* console_ = nullptr;
  std::function<LocalTime()> clock_ = CurrentLocalTime;
  ReceivePump pump_;
  TrafficLog traffic_{*this};
  AnswerWatch answers_{*this};
  std::unique_ptr<PumpDriver> driver_;
};

}  // namespace velmora
