#pragma once
// The devices on the network: "搜索" asks the network page's broadcast address who is
// there (the command line's discover, on the window's own UDP endpoint) and lists each
// device that answered with its version, MAC and local IP, marking cloned identities;
// "连接" points the network page at the chosen device.

#include <QDialog>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

#include "discovery/device_search.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace velmora {

class TrafficLog;
class UdpEndpoint;

class DevicesDialog : public QDialog {
  Q_OBJECT
 public:
  // `address` gives the address to search when the link is closed (the network page's
  // box); `udp` is the window's endpoint; the search's frames go to `traffic`.
  DevicesDialog(UdpEndpoint& udp, TrafficLog& traffic, std::function<QString()> address, QWidget* parent = nullptr);
  ~DevicesDialog() override;

  // "搜索": sends the two queries and lists the answers after the wait.
  void Search();
  bool Searching() const { return wait_.isActive(); }
  const std::vector<FoundDevice>& Devices() const { return devices_; }
  // "连接" on the chosen row.
  void ConnectChosen();

  QTreeWidget* List() const { return list_; }
  QPushButton* SearchButton() const { return search_; }
  QPushButton* ConnectButton() const { return connect_; }
  // Tests shorten the wait.
  void SetWaitMs(int ms) { wait_ms_ = ms; }

 signals:
  // The engineer chose a device: the network page is to talk to this address.
  void ConnectRequested(const QString& address);
  // A search ended; `address` is where it was sent.
  void SearchFinished(const QString& address, const std::vector<velmora::FoundDevice>& devices);

 private:
  void Finish();
  void ShowDevices();
  void ShowTexts();
  bool Offer(const PeerAddress& from, std::span<const uint8_t> datagram);

  UdpEndpoint& udp_;
  TrafficLog& traffic_;
  std::function<QString()> address_;
  QLabel* status_ = nullptr;
  QLabel* list_label_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QPushButton* search_ = nullptr;
  QPushButton* connect_ = nullptr;
  QPushButton* close_ = nullptr;
  QTimer wait_;
  int wait_ms_ = DeviceSearch::kDefaultWaitMs;
  DeviceSearch search_run_;
  std::vector<FoundDevice> devices_;
  QString searched_;        // the address of the last search
  bool opened_here_ = false;
  int generation_ = 0;      // the endpoint's open generation the search opened
  bool have_last_sender_ = false;
  PeerAddress last_sender_;
  QString failure_;         // why the last search could not run
};

}  // namespace velmora
