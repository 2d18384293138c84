#pragma once
// The firmware upgrade dialog: chooses the image, drives the transfer engine and shows
// its progress and verdicts.
//
// The main window creates one on first use and keeps it for its whole life. Closing,
// Esc and Enter only hide it: the open file, the state and a running transfer go on.
// Enter in the path box loads the file typed there instead.

#include <QDialog>
#include <QTimer>

#include <cstdint>
#include <functional>

#include "widgets/dialog_builder.h"
#include "core/modal_ui.h"
#include "fota/firmware_transfer.h"

class QLabel;
class QLineEdit;
class QProgressBar;

namespace velmora {

class ModalUi;
class SerialPort;
class UdpEndpoint;

// "%.3f kb" of length / 1000.0: the size label.
QString FirmwareSizeText(uint64_t length);
// (length >> 10) cut to 16 bits: the progress bar's range.
int FirmwareProgressRange(uint64_t length);

class FirmwareDialog : public QDialog {
  Q_OBJECT
 public:
  // Sends over the program's serial port or UDP endpoint; they and `modal` must outlive
  // the dialog.
  FirmwareDialog(SerialPort& serial, UdpEndpoint& udp, ModalUi& modal, QWidget* parent = nullptr);
  // With senders of the caller's choosing (tests, tools).
  FirmwareDialog(FirmwareTransfer::Sender serial, FirmwareTransfer::Sender udp, ModalUi& modal,
               QWidget* parent = nullptr);
  ~FirmwareDialog() override;

  // Shows the window in its normal state in front, with the file and progress the engine
  // has; centred over its parent the first time, where the engineer left it afterwards.
  void ShowNormal();

  // The link the next upload goes over, chosen by the FOTA button that opened the dialog.
  // A running upload keeps the link it started on.
  void SetLink(Link link) { link_ = link; }
  // Asked before an upgrade starts over a link; false keeps it from starting.
  void SetStartCheck(std::function<bool(Link)> check) { start_check_ = std::move(check); }
  Link NextLink() const { return link_; }
  // The link of the upload in progress, or of the next one when none runs.
  Link ActiveLink() const { return transfer_.Awaiting() ? transfer_.TransferLink() : link_; }

  // A reply forwarded by a configuration page. Only code 0xE5 is acted on, from the event
  // loop right after the forwarding call has returned.
  void HandleFirmwareReply(const ReplyFrame& frame);

  // What the buttons do: 1003, 1019, 1022. The file dialog starts at the typed path.
  void OnOpenFile();
  void OnStartUpgrade();
  void OnStopUpgrade();

  const FirmwareTransfer& Transfer() const { return transfer_; }
  const ControlMap& Controls() const { return controls_; }
  // The 10 ms watch runs only while a frame is awaited.
  bool Watching() const { return timer_.isActive(); }

 signals:
  // An upload started or ended; `link` is the one it runs or ran over.
  void UploadChanged(bool running, velmora::Link link);
  // A running upload ended: how, over which link, and the message shown for it.
  void UploadEnded(velmora::FotaOutcome outcome, velmora::Link link, const QString& message);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // `serial_lost` tells whether the serial device has gone away; may be empty.
  FirmwareDialog(FirmwareTransfer::Sender serial, FirmwareTransfer::Sender udp, std::function<bool()> serial_lost,
               ModalUi& modal, QWidget* parent);

  void OnTick();
  // Enter in the path box: the typed file is loaded as if chosen.
  void OnPathEntered();
  void Load(const QString& path);
  // Mirrors the engine into the controls and the timer, then shows the outcome's message.
  void Apply(FotaOutcome outcome);
  void ShowFileInfo();
  void ShowProgress();
  void SyncWatch();
  // The title names the link while an upload runs; the pages are told.
  void ShowUploadState();
  // The dialog's title, and while an upload runs the link it uses.
  void ShowTitle();

  ModalUi& modal_;
  Link link_ = Link::Serial;
  std::function<bool(Link)> start_check_;
  std::function<bool()> serial_lost_;
  QTimer timer_;
  FirmwareTransfer transfer_;
  ControlMap controls_;
  QLineEdit* path_ = nullptr;
  QLabel* name_ = nullptr;
  QLabel* size_ = nullptr;
  QProgressBar* progress_ = nullptr;
  bool shown_before_ = false;
  bool uploading_ = false;
};

}  // namespace velmora
