#pragma once
// The simulator's serial link: a pseudo-terminal of its own or a serial device, read
// as a byte stream and answered at the modelled line rate.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <utility>

#include "fine_timer.h"
#include "frame_parser.h"
#include "link_context.h"
#include "wire.h"

class QSocketNotifier;

namespace velmora::sim {

class SerialSide {
 public:
  // `baud` 0: no line modelled.
  SerialSide(LinkContext context, int baud);
  ~SerialSide();

  SerialSide(const SerialSide&) = delete;
  SerialSide& operator=(const SerialSide&) = delete;

  bool OpenPty(QString* error);
  bool OpenDevice(const QString& path, QString* error);

  const QString& Path() const { return path_; }
  uint64_t NoiseBytes() const { return parser_.NoiseBytes(); }

  void Close();

 private:
  bool Watch(QString* error);
  void OnReadable();
  void Ingest(std::span<const uint8_t> bytes);
  void Expire();
  void ProcessInbox();
  void RunOut();
  void Flush();

  LinkContext ctx_;
  int baud_;
  int fd_ = -1;
  int slave_fd_ = -1;
  QString path_;
  std::unique_ptr<QSocketNotifier> readable_;
  std::unique_ptr<QSocketNotifier> writable_;
  StreamParser parser_;
  InboundLine in_;
  Outbox out_;
  std::deque<std::pair<Nanos, Parsed>> inbox_;
  FineTimer inbox_timer_{[this] { ProcessInbox(); }};
  FineTimer out_timer_{[this] { RunOut(); }};
  FineTimer expire_timer_{[this] { Expire(); }};
  QByteArray unwritten_;
};

}  // namespace velmora::sim
