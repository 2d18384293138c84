#pragma once
// The serial configuration page ("USART"): the configuration form over the COM port.

#include <QStringList>

#include <optional>

#include "config/ui/config_form_page.h"

class QFileSystemWatcher;

namespace velmora {

class SerialPort;

class SerialPage : public ConfigFormPage {
  Q_OBJECT
 public:
  SerialPage(PageHost& host, SerialPort& serial, QWidget* parent = nullptr);
  ~SerialPage() override;

  // Lists the ports that can be opened now and selects the first.
  void RefreshPorts();

  // Folders whose serial devices (nodes or links to them) are listed beside the ports the
  // system knows, and watched with the system's device folders. A port in a watched folder
  // that goes away while open is closed, and opened again when it comes back.
  void SetPortFolders(const QStringList& folders);

  // A write to the port failed, from this page or another: said in the Log pane; a port
  // whose adapter has gone is closed and shown closed.
  void HandleSerialSendFailed();

 protected:
  void OnSendFailed() override { HandleSerialSendFailed(); }

 private:
  void OnOpenClose();
  void ShowLinkState(bool open);
  // Fills the list; the text in the edit field stays when `keep_text`.
  void FillPorts(bool keep_text);
  void ShowPortTip();
  void WatchFolders();
  // A watched folder changed: the list follows it, a vanished open port is let go, a
  // returning one opened again.
  void OnDevicesChanged();
  // The open port is closed because its device has gone; it is opened again when the same
  // adapter returns, if it lives in a watched folder.
  void LetGoOfLostPort();
  void ReopenReturnedPort();
  bool InWatchedFolder(const QString& path) const;

  SerialPort& serial_;
  QFileSystemWatcher* watcher_ = nullptr;
  QStringList port_folders_;
  // The port whose adapter went away while it was open, with its settings.
  struct Lost {
    QString path;
    QString serial_number;
    qint32 baud = 0;
    int parity = 0;
    // Its node has been seen missing: what stands there later is the adapter back, not
    // the dead line still held open by the far end.
    bool seen_gone = false;
  };
  std::optional<Lost> lost_;
};

}  // namespace velmora
