#include "discovery/ui/devices_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QHostAddress>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "log/traffic_log.h"
#include "protocol/command_frame.h"
#include "protocol/receive_pump.h"
#include "transport/udp_endpoint.h"
#include "widgets/translation.h"

namespace velmora {

namespace {
enum Column { kAddress, kVersion, kMac, kLocalIp, kConflict, kColumns };
}  // namespace

DevicesDialog::DevicesDialog(UdpEndpoint& udp, TrafficLog& traffic, std::function<QString()> address, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      udp_(udp),
      traffic_(traffic),
      address_(std::move(address)) {
  setObjectName(QStringLiteral("devicesDialog"));
  auto* layout = new QVBoxLayout(this);
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  layout->addWidget(status_);
  list_label_ = new QLabel(this);
  layout->addWidget(list_label_);
  list_ = new QTreeWidget(this);
  list_->setColumnCount(kColumns);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->header()->setStretchLastSection(true);
  list_label_->setBuddy(list_);
  layout->addWidget(list_, 1);
  auto* buttons = new QHBoxLayout;
  search_ = new QPushButton(this);
  connect_ = new QPushButton(this);
  close_ = new QPushButton(this);
  buttons->addWidget(search_);
  buttons->addWidget(connect_);
  buttons->addStretch(1);
  buttons->addWidget(close_);
  layout->addLayout(buttons);
  search_->setDefault(true);
  connect_->setEnabled(false);
  setTabOrder(list_, search_);
  setTabOrder(search_, connect_);
  setTabOrder(connect_, close_);
  resize(640, 320);

  wait_.setSingleShot(true);
  QObject::connect(&wait_, &QTimer::timeout, this, &DevicesDialog::Finish);
  QObject::connect(search_, &QPushButton::clicked, this, &DevicesDialog::Search);
  QObject::connect(connect_, &QPushButton::clicked, this, &DevicesDialog::ConnectChosen);
  QObject::connect(close_, &QPushButton::clicked, this, &QDialog::hide);
  QObject::connect(list_, &QTreeWidget::itemSelectionChanged, this,
                   [this] { connect_->setEnabled(!Searching() && !list_->selectedItems().isEmpty()); });
  QObject::connect(list_, &QTreeWidget::itemActivated, this, [this] { ConnectChosen(); });
  ShowTexts();
  OnLanguageChange(this, [this] {
    ShowTexts();
    ShowDevices();
  });
}

DevicesDialog::~DevicesDialog() {
  if (Searching()) udp_.SetDatagramTap({});
}

void DevicesDialog::ShowTexts() {
  setWindowTitle(tr("设备列表"));
  list_label_->setText(tr("应答的设备(&D):"));
  list_->setAccessibleName(tr("应答的设备"));
  list_->setHeaderLabels({tr("地址"), tr("版本"), tr("MAC地址"), tr("本地IP"), tr("身份")});
  search_->setText(tr("搜索"));
  connect_->setText(tr("连接"));
  close_->setText(tr("关闭"));
  connect_->setToolTip(tr("把选中设备的地址填入ENET页并打开UDP连接"));
  QString status;
  if (Searching()) {
    status = tr("正在搜索 %1 ...").arg(searched_);
  } else if (!failure_.isEmpty()) {
    status = failure_;
  } else if (!searched_.isEmpty()) {
    status = tr("在 %1 找到 %2 台设备.").arg(searched_).arg(devices_.size());
  } else {
    status = tr("搜索会向ENET页的广播地址询问版本和配置.");
  }
  status_->setText(status);
}

void DevicesDialog::Search() {
  if (Searching()) return;
  failure_.clear();
  const QString address = udp_.IsOpen() ? udp_.DeviceAddress() : address_();
  bool ok = false;
  const quint32 ip = QHostAddress(address).toIPv4Address(&ok);
  if (!ok || ip == 0) {
    failure_ = tr("ENET页的广播地址 %1 不能用来搜索.").arg(address);
    ShowTexts();
    return;
  }
  opened_here_ = !udp_.IsOpen();
  if (opened_here_ && !udp_.OpenEndpoint(address)) {
    opened_here_ = false;
    failure_ = tr("本地端口%1不可用,无法搜索.").arg(udp_.LocalPort());
    ShowTexts();
    return;
  }
  generation_ = udp_.OpenGeneration();
  searched_ = address;
  search_run_ = DeviceSearch();
  have_last_sender_ = false;
  udp_.SetDatagramTap([this](const PeerAddress& from, std::span<const uint8_t> d) { return Offer(from, d); });
  traffic_.SearchStarted(address);
  for (const auto& frame : DeviceSearch::QueryFrames()) {
    traffic_.Sent(Link::Udp, HexText(frame));
    udp_.SendToDevice(frame.data(), frame.size());
  }
  wait_.start(wait_ms_);
  search_->setEnabled(false);
  connect_->setEnabled(false);
  ShowTexts();
}

bool DevicesDialog::Offer(const PeerAddress& from, std::span<const uint8_t> datagram) {
  if (!search_run_.Offer(from, datagram)) return false;
  // Logged as any reply, under its sender; no page acts on it.
  const bool new_sender = !have_last_sender_ || last_sender_ != from;
  have_last_sender_ = true;
  last_sender_ = from;
  traffic_.Received(ClosedBurst{Link::Udp, datagram, from, new_sender, true, 0});
  return true;
}

void DevicesDialog::Finish() {
  udp_.SetDatagramTap({});
  // Closed again only if the search opened it and nobody opened it anew meanwhile.
  if (opened_here_ && udp_.IsOpen() && udp_.OpenGeneration() == generation_) udp_.CloseEndpoint();
  opened_here_ = false;
  devices_ = search_run_.Devices();
  traffic_.SearchFinished(searched_, static_cast<int>(devices_.size()));
  search_->setEnabled(true);
  ShowDevices();
  ShowTexts();
  emit SearchFinished(searched_, devices_);
}

void DevicesDialog::ShowDevices() {
  list_->clear();
  for (const FoundDevice& d : devices_) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(kAddress, d.Address());
    item->setData(kAddress, Qt::UserRole, d.Address());
    item->setText(kVersion, d.version ? *d.version : QString());
    item->setText(kMac, d.Mac());
    item->setText(kLocalIp, d.LocalIp());
    item->setText(kConflict, d.conflict ? tr("重复: 另一台设备有相同的MAC或IP") : QString());
  }
  for (int c = 0; c < kColumns - 1; ++c) list_->resizeColumnToContents(c);
  if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
  connect_->setEnabled(!list_->selectedItems().isEmpty());
}

void DevicesDialog::ConnectChosen() {
  const auto chosen = list_->selectedItems();
  if (chosen.isEmpty() || Searching()) return;
  emit ConnectRequested(chosen.first()->data(kAddress, Qt::UserRole).toString());
}

}  // namespace velmora
