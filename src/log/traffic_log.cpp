#include "log/traffic_log.h"

#include <QCoreApplication>
#include <QStringList>

#include "protocol/gbk.h"
#include "protocol/command_frame.h"
#include "protocol/text_field.h"

namespace velmora {

namespace {
const QLatin1String kLineEnd("\r\n");
QString Tr(const char* text) { return QCoreApplication::translate("Log", text); }
}  // namespace

QString SentFrameLine(Link link, const QString& hex) {
  return (link == Link::Serial ? Tr(QT_TRANSLATE_NOOP("Log", "串口发送:")) : Tr(QT_TRANSLATE_NOOP("Log", "UDP发送:"))) + hex;
}

QString ReceivedLine(const ClosedBurst& burst) {
  const bool serial = burst.link == Link::Serial;
  if (!burst.is_reply) {
    // Device text output: its first (length mod 512) bytes, up to the first zero byte.
    const QString text = FromGbk(TextFieldBytes(burst.bytes.first(burst.bytes.size() % 512)));
    return QString::fromUtf8(serial ? "[UART_RECV]: " : "[UDP_RECV]: ") + text + kLineEnd;
  }
  return (serial ? Tr(QT_TRANSLATE_NOOP("Log", "串口接收:")) : Tr(QT_TRANSLATE_NOOP("Log", "UDP接收:"))) +
         HexText(burst.bytes);
}

QString SenderLine(const PeerAddress& sender) {
  return Tr(QT_TRANSLATE_NOOP("Log", "[UDP]: 以下数据来自 %1.")).arg(sender.Text()) + kLineEnd;
}

QString IgnoredLine(const IgnoredDatagrams& ignored) {
  QString line = Tr(QT_TRANSLATE_NOOP("Log", "[UDP]: 忽略来自 %1 的 %2 字节数据")).arg(ignored.from.Text()).arg(ignored.bytes);
  if (ignored.count > 1) line += Tr(QT_TRANSLATE_NOOP("Log", "(另有 %1 个数据包被忽略)")).arg(ignored.count - 1);
  return line + QLatin1String(".") + kLineEnd;
}

QString SeveralDevicesLine(const std::vector<PeerAddress>& senders) {
  QStringList names;
  for (const PeerAddress& p : senders) names << p.Text();
  return Tr(QT_TRANSLATE_NOOP("Log", "[UDP]: 有 %1 台设备应答: %2. 写入会发往所有这些设备.")).arg(senders.size()).arg(names.join(QStringLiteral(", "))) +
         kLineEnd;
}

QString NoAnswerLine(const QString& command, Link link, uint8_t code, std::chrono::milliseconds wait) {
  const char* text = link == Link::Serial ? QT_TRANSLATE_NOOP("Log", "[%1]: 串口 %2 秒内没有应答 (命令 %3).")
                                          : QT_TRANSLATE_NOOP("Log", "[%1]: UDP %2 秒内没有应答 (命令 %3).");
  // One call for all three: a caption holding "%2" stays as it is.
  return Tr(text).arg(command, QString::number(static_cast<double>(wait.count()) / 1000.0),
                      QString::asprintf("%02X", code)) +
         kLineEnd;
}

void TrafficLog::Watch(ReceivePump& pump) {
  pump.WatchBursts([this](const ClosedBurst& burst) { Received(burst); });
}

void TrafficLog::Watch(UdpEndpoint& endpoint) {
  endpoint.SetIgnoredHandler([this](const IgnoredDatagrams& ignored) { sink_.AppendLog(IgnoredLine(ignored)); });
}

void TrafficLog::SearchStarted(const QString& address) {
  sink_.AppendLog(Tr(QT_TRANSLATE_NOOP("Log", "[UDP]: 搜索设备: 向 %1 询问版本和配置.")).arg(address) + kLineEnd);
}

void TrafficLog::SearchFinished(const QString& address, int devices) {
  sink_.AppendLog(Tr(QT_TRANSLATE_NOOP("Log", "[UDP]: 搜索结束: %1 有 %2 台设备应答.")).arg(address).arg(devices) + kLineEnd);
}

void TrafficLog::Received(const ClosedBurst& burst) {
  if (burst.dropped_before > 0) {
    sink_.AppendLog(Tr(QT_TRANSLATE_NOOP("Log", "[UDP]: %1 个数据包来得太快,未能处理.")).arg(burst.dropped_before) + kLineEnd);
  }
  if (burst.new_sender) sink_.AppendLog(SenderLine(burst.sender));
  sink_.AppendLog(ReceivedLine(burst));
}

}  // namespace velmora
