#pragma once
// The COM port: opened, read and written by its own reader thread (serial_reader.h);
// driven from the user-interface thread. The system's list of ports is serial_port_list.h.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

class ReceiveState;

namespace detail {
struct SerialLink;
}

// Takes every received byte, in order, on the reader thread. It must not call into the
// user interface, and it is not called again once Close has returned.
using SerialByteSink = std::function<void(uint8_t byte)>;

class SerialPort {
 public:
  static constexpr std::size_t kChunkSize = 1024;  // matches the driver's output queue
  static constexpr int kChunkTimeoutMs = 1000;
  // After a time-out the output queue is cleared, so one more try has the whole queue to
  // itself; a chunk that still cannot go out means the line is stuck.
  static constexpr int kChunkRetries = 1;
  static constexpr int kStopTimeoutMs = 200;
  static constexpr int kOpenTimeoutMs = 2000;

  // The sink, and whatever it refers to, must outlive the port.
  explicit SerialPort(SerialByteSink sink);
  // Received bytes go into the serial receive buffer, which must outlive the port. The
  // state also learns when bytes are still on their way, so a burst is not cut while the
  // reader is kept from running.
  explicit SerialPort(ReceiveState& state);
  // Stops the reader before the sink goes.
  virtual ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens a listed name or a device path, applies the line settings (8 data bits, 1 stop
  // bit, parity 0 none / 1 odd / 2 even / 3 mark / 4 space, no flow control, DTR and RTS
  // off) and starts the reader. An open port is closed first. False when the device cannot
  // be opened or held, or refuses a setting: the port is then closed.
  bool Open(const QString& name, qint32 baud, int parity);
  // Stops the reader (within kStopTimeoutMs) and closes the device. Always true.
  bool Close();
  bool IsOpen() const;
  // Bytes have reached the computer that the sink has not had yet: waiting in the driver
  // or being handed over. Never waits for the reader.
  bool InputWaiting() const;
  // True once the open port's device has gone away (adapter unplugged, far end hung up):
  // nothing goes out or comes in until the port is closed and opened again.
  bool LineLost() const;
  // Called on the reader thread, without delay, when the open port's device goes away
  // with nothing being written. It must only hand the news on (a queued call); it is not
  // called again once this returns with another handler or none.
  void SetLineLostHandler(std::function<void()> handler);
  // True when every byte went out. False at once when closed or when the device has gone
  // away; a chunk that cannot be written within kChunkTimeoutMs is retried kChunkRetries
  // times after clearing the output queue, then the write fails.
  bool Write(const uint8_t* data, std::size_t len);

  // The values given to the last Open.
  QString Port() const { return port_; }
  qint32 Baud() const { return baud_; }
  int Parity() const { return parity_; }

  // Readers that did not stop within kStopTimeoutMs and were left to end on their own.
  std::size_t StrayReaders() const;

 private:
  void StopReader();
  void ReapStrays();

  const SerialByteSink sink_;
  ReceiveState* const state_ = nullptr;
  QString port_;
  qint32 baud_ = 9600;
  int parity_ = 0;

  std::function<void()> line_lost_handler_;
  std::mutex write_mutex_;
  std::shared_ptr<detail::SerialLink> link_;  // present while the port is open
  std::thread reader_;
  struct Stray {
    std::shared_ptr<detail::SerialLink> link;
    std::thread thread;
  };
  std::vector<Stray> strays_;
};

}  // namespace velmora
