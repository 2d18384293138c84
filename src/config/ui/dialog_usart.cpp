#include "config/ui/dialog_usart.h"

#include <QAbstractButton>
#include <QComboBox>

#include <limits>

#include "widgets/controls.h"
#include "transport/app_services.h"
#include "transport/command_senders.h"
#include "transport/serial_port.h"

namespace velmora {

namespace {

using namespace res;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

ConfigPageTraits SerialTraits(CXSerial& serial) {
  return ConfigPageTraits{
      SerialConfigDialog(),
      kSerialFormLists,
      [&serial](uint8_t code, std::span<const uint8_t> payload, QString& hex) {
        return SendCommandSerial(serial, code, payload, hex);
      },
      "串口发送:",
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

}  // namespace

CDialog_Usart::CDialog_Usart(PageHost& host, AppServices& services, QWidget* parent)
    : ConfigFormPage(host, SerialTraits(services.serial), parent), serial_(services.serial) {
  SetListPosition(Controls().Combo(kIdcBaudRate), 7);  // 115200
  SetListPosition(Controls().Combo(kIdcParity), 0);    // NO
  BindClicks(Controls(), this,
             ClickTable<CDialog_Usart>{
                 {kIdcOpenClose, &CDialog_Usart::OnOpenClose},
                 {kIdcRefreshPorts, &CDialog_Usart::RefreshPorts},
             });
  RefreshPorts();
}

void CDialog_Usart::RefreshPorts() {
  QComboBox* ports = Controls().Combo(kIdcComPort);
  ports->clear();
  ports->addItems(CXSerial::AvailablePorts());
  SetListPosition(ports, 0);  // none when the list is empty
}

void CDialog_Usart::OnOpenClose() {
  if (serial_.IsOpen()) {
    serial_.Close();
    ShowLinkState(false);
    Log(U("[COM]: 关闭串口成功.\r\n"));
    return;
  }
  // A listed port or a device path typed by the engineer (a USB adapter Windows or the
  // system did not list yet, a pseudo-terminal).
  const QString port = Controls().Combo(kIdcComPort)->currentText().trimmed();
  if (port.isEmpty()) return;
  const QComboBox* baud_list = Controls().Combo(kIdcBaudRate);
  const qint32 baud = BaudRate(baud_list);
  if (baud == 0) {
    Log(U("[COM]: 波特率无效:") + baud_list->currentText() + QLatin1String("\r\n"));
    return;
  }
  const QComboBox* parity_list = Controls().Combo(kIdcParity);
  const int parity = ParityPosition(parity_list);
  if (parity < 0) {
    Log(U("[COM]: 校验方式无效:") + parity_list->currentText() + QLatin1String("\r\n"));
    return;
  }
  if (!serial_.Open(port, baud, parity)) {
    ShowLinkState(false);
    Log(U("[COM]: 打开串口失败:") + port + QLatin1String("\r\n"));
    return;
  }
  ShowLinkState(true);
  Log(U("[COM]: 打开串口成功.\r\n"));
}

void CDialog_Usart::HandleSerialSendFailed() {
  // A port the engineer has not opened says nothing more: the frame is logged as tried.
  if (!serial_.IsOpen()) return;
  if (serial_.LineLost()) {
    // The adapter was pulled or the far end hung up: the port is no use until opened
    // again, so it is let go and the row is ready for that.
    serial_.Close();
    ShowLinkState(false);
    Log(U("[COM]: 串口已断开,发送失败,已关闭串口.\r\n"));
    return;
  }
  Log(U("[COM]: 串口发送失败,数据未发出.\r\n"));
}

void CDialog_Usart::ShowLinkState(bool open) {
  Controls().Button(kIdcOpenClose)->setText(U(open ? "关闭" : "打开"));
  for (int id : {kIdcComPort, kIdcBaudRate, kIdcParity, kIdcRefreshPorts}) Controls().Get(id)->setEnabled(!open);
}

}  // namespace velmora
