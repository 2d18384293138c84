#pragma once
// The Log's own lines about the link traffic, each composed here and nowhere else: frames
// sent and received, text the device sent, who sent a datagram, datagrams ignored, a
// command the device did not answer.

#include <QString>

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "core/link.h"
#include "core/peer_address.h"
#include "log/log_sink.h"
#include "protocol/receive_pump.h"
#include "transport/udp_endpoint.h"

namespace velmora {

// "串口发送:" or "UDP发送:", then the frame's hex text.
QString SentFrameLine(Link link, const QString& hex);
// A closed burst: "串口接收:"/"UDP接收:" and the hex text for a Reply frame, else
// "[UART_RECV]: "/"[UDP_RECV]: " and the device's text.
QString ReceivedLine(const ClosedBurst& burst);
// "[UDP]: 以下数据来自 ADDRESS:PORT."
QString SenderLine(const PeerAddress& sender);
// "[UDP]: 忽略来自 …", with the count of the others held back since the last such line.
QString IgnoredLine(const IgnoredDatagrams& ignored);
// Several devices answer on a broadcast link: their count and addresses.
QString SeveralDevicesLine(const std::vector<PeerAddress>& senders);
// "[读版本]: 串口 3 秒内没有应答 (命令 E3).": `command` is what the engineer pressed, `wait`
// how long its answer was awaited.
QString NoAnswerLine(const QString& command, Link link, uint8_t code, std::chrono::milliseconds wait);

// Writes those lines into a sink as the traffic happens.
class TrafficLog {
 public:
  explicit TrafficLog(LogSink& sink) : sink_(sink) {}

  // Every burst the pump closes is logged before its reply is handled.
  void Watch(ReceivePump& pump);
  // Datagrams the endpoint ignores are logged as it reports them.
  void Watch(UdpEndpoint& endpoint);

  void Sent(Link link, const QString& hex) { sink_.AppendLog(SentFrameLine(link, hex)); }
  void Received(const ClosedBurst& burst);
  // A search of the network: where it asks, and how many devices answered.
  void SearchStarted(const QString& address);
  void SearchFinished(const QString& address, int devices);

 private:
  LogSink& sink_;
};

}  // namespace velmora
