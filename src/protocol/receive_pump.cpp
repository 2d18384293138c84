#include "protocol/receive_pump.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>

#include "protocol/command_frame.h"
#include "protocol/gbk.h"
#include "protocol/text_field.h"

namespace velmora {

std::span<const uint8_t> ReplyFrame::Payload() const {
  if (bytes.size() < 5) return {};
  const std::size_t avail = bytes.size() - 5;  // between the length byte and the end byte
  return bytes.subspan(4, std::min<std::size_t>(DeclaredLength(), avail));
}

std::span<const uint8_t> ReplyFrame::Text() const {
  if (bytes.size() < 5) return {};
  return bytes.subspan(4, bytes.size() - 5);
}

bool IsReplyFrame(std::span<const uint8_t> b) {
  // Three bytes is the shortest burst that can pass: F5 00 0D reads as code 0x0D.
  return b.size() >= 3 && b[0] == kFrameStart && b[1] == kDirToTool && b.back() == kFrameEnd && b[2] != 0;
}

void ReceivePump::Tick() {
  const auto serial = state_.TickSerial(kSerialCloseTicks, kSerialGuardTicks);
  if (serial.close) {
    Deliver(Link::Serial, state_.SerialBuffer().first(serial.length));
    state_.ReopenSerial();
  }
  const auto udp = state_.TickUdp(kUdpCloseTicks);
  if (udp.close) {
    if (udp.new_sender) {
      log_.AppendLog(QCoreApplication::translate("Log", "[UDP]: 以下数据来自 %1.").arg(udp.sender.Text()) +
                     QLatin1String("\r\n"));
    }
    Deliver(Link::Udp, state_.UdpBuffer().first(udp.length));
    state_.ResetUdp();
  }
}

void ReceivePump::Deliver(Link link, std::span<const uint8_t> burst) {
  const bool serial = link == Link::Serial;
  if (!IsReplyFrame(burst)) {
    // Device text output: its first (length mod 512) bytes, up to the first zero byte.
    const QString text = FromGbk(TextFieldBytes(burst.first(burst.size() % 512)));
    log_.AppendLog(QString::fromUtf8(serial ? "[UART_RECV]: " : "[UDP_RECV]: ") + text + QLatin1String("\r\n"));
    return;
  }
  log_.AppendLog((serial ? QCoreApplication::translate("Log", "串口接收:") : QCoreApplication::translate("Log", "UDP接收:")) +
                 HexText(burst));
  const ReplyFrame frame{link, burst};
  const uint8_t code = frame.Code();
  ReplyHandler* target = (code == cmd::kWriteMqtt || code == cmd::kReadMqtt) ? mqtt_page_
                          : serial                                            ? serial_page_
                                                                              : network_page_;
  if (target) target->HandleReply(frame);
}

}  // namespace velmora
