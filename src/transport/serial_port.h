#pragma once
// The COM port: opened, read and written by its own reader thread (serial_reader.h);
// driven from the user-interface thread.

#include <QString>
#include <QStringList>

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

// A serial port as the system lists it, found without opening it. Whether another
// program holds it is only known by opening it, so the list does not say.
struct SerialPortEntry {
  QString name;           // what Open takes and the user sees: "COM3", "ttyUSB0"
  QString path;           // the full system location: "\\.\COM3", "/dev/ttyUSB0"
  QString description;    // the adapter's product text, when the system knows it
  QString manufacturer;
  QString serial_number;
  quint16 vid = 0;        // USB or PCI identifiers, valid when has_ids
  quint16 pid = 0;
  bool has_ids = false;
};

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

  // "COM3"; "\\.\COM12" from 10 up, the form the Windows device namespace needs.
  static QString PortName(unsigned number);
  // The system's serial ports, ordered by name and number (COM2 before COM10). None is
  // opened to find them: opening a port pulses DTR and RTS, which resets many boards.
  static std::vector<SerialPortEntry> ListPorts();
  // The names of ListPorts. Windows: "COM1".."COM255"; elsewhere the device names
  // (ttyUSB0, ttyACM0, ttyS0, ...).
  static QStringList AvailablePorts();
  // True if the name or path is a serial device that is there now, listed or not (a
  // pseudo-terminal, an adapter the system has not listed yet). The device is not
  // opened, so a port held by this or another program is still there.
  static bool PortExists(const QString& name);

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
  QString port_ = PortName(1);
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
