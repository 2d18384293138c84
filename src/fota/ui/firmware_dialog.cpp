#include "fota/ui/firmware_dialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <span>
#include <vector>

#include "transport/serial_port.h"
#include "transport/udp_endpoint.h"
#include "protocol/command_frame.h"
#include "resources/fota_layout.h"
#include "widgets/translation.h"

namespace velmora {

namespace {

// The watch is armed before the frame goes out: a failing UDP send holds its message box
// up from inside the call, and the silent-device rule must count meanwhile.
FirmwareTransfer::Sender Watched(QTimer& timer, FirmwareTransfer::Sender send) {
  return [&timer, send = std::move(send)](std::span<const uint8_t> frame) {
    if (!timer.isActive()) timer.start();
    if (send) send(frame);
  };
}

// The message box an outcome asks for; an empty text means none.
QString MessageText(FotaOutcome outcome) {
  switch (outcome) {
    case FotaOutcome::kEmptyPath: return QCoreApplication::translate("velmora::FirmwareDialog", "打开文件的路径不正确,或不能为空！");
    case FotaOutcome::kCannotOpen: return QCoreApplication::translate("velmora::FirmwareDialog", "无法打开固件文件,请检查文件路径!");
    case FotaOutcome::kFileTooLarge: return QCoreApplication::translate("velmora::FirmwareDialog", "固件文件超过4GB,无法升级!");
    case FotaOutcome::kReadFailed: return QCoreApplication::translate("velmora::FirmwareDialog", "读取固件文件失败,升级已停止!");
    case FotaOutcome::kFileChanged: return QCoreApplication::translate("velmora::FirmwareDialog", "固件文件在升级过程中被改动,升级已停止!");
    case FotaOutcome::kSerialLost: return QCoreApplication::translate("velmora::FirmwareDialog", "串口已断开,升级已停止!");
    case FotaOutcome::kCheckFailed: return QCoreApplication::translate("velmora::FirmwareDialog", "校验错误,升级失败!");
    case FotaOutcome::kAccepted: return QCoreApplication::translate("velmora::FirmwareDialog", "升级成功，等待从新启动");
    case FotaOutcome::kTimedOut: return QCoreApplication::translate("velmora::FirmwareDialog", "升级超时,请重试!");
    case FotaOutcome::kStopped: return QCoreApplication::translate("velmora::FirmwareDialog", "停止下载程序成功！");
    default: return {};
  }
}

MessageButtons MessageButtonsFor(FotaOutcome outcome) {
  return outcome == FotaOutcome::kAccepted ? MessageButtons::OkCancel : MessageButtons::Ok;
}

}  // namespace

QString FirmwareSizeText(uint64_t length) { return QString::asprintf("%.3f kb", static_cast<double>(length) / 1000.0); }

int FirmwareProgressRange(uint64_t length) { return static_cast<int>((length >> 10) & 0xFFFF); }

FirmwareDialog::FirmwareDialog(SerialPort& serial, UdpEndpoint& udp, ModalUi& modal, QWidget* parent)
    : FirmwareDialog(
          // A failed write is not reported here: on a port never opened the watch resends
          // and then times out; a device that has gone away ends the transfer in Apply.
          [&serial](std::span<const uint8_t> f) { (void)serial.Write(f.data(), f.size()); },
          [&udp](std::span<const uint8_t> f) { udp.SendToDevice(f.data(), f.size()); },
          [&serial] { return serial.LineLost(); }, modal, parent) {}

FirmwareDialog::FirmwareDialog(FirmwareTransfer::Sender serial, FirmwareTransfer::Sender udp, ModalUi& modal,
                           QWidget* parent)
    : FirmwareDialog(std::move(serial), std::move(udp), {}, modal, parent) {}

FirmwareDialog::FirmwareDialog(FirmwareTransfer::Sender serial, FirmwareTransfer::Sender udp,
                           std::function<bool()> serial_lost, ModalUi& modal, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      modal_(modal),
      serial_lost_(std::move(serial_lost)),
      transfer_(Watched(timer_, std::move(serial)), Watched(timer_, std::move(udp))) {
  controls_ = BuildDialog(res::FirmwareDialog(), this);
  setFixedSize(size());
  path_ = controls_.As<QLineEdit>(res::kIdcFirmwarePath);
  name_ = controls_.Label(res::kIdcFirmwareName);
  size_ = controls_.Label(res::kIdcFirmwareSize);
  progress_ = controls_.As<QProgressBar>(res::kIdcFirmwareProgress);
  const auto name = [this] {
    path_->setAccessibleName(tr("打开文件"));
    // The file labels are named by what they show, which changes; their captions say what
    // that is.
    name_->setAccessibleDescription(tr("文件名称"));
    size_->setAccessibleDescription(tr("文件大小"));
    progress_->setAccessibleName(tr("烧写进度"));
    ShowTitle();
  };
  name();
  OnLanguageChange(this, name);

  // Ticking only while a frame is awaited does what a timer that never stops would do:
  // an idle engine ignores ticks, and every send arms the watch.
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(FirmwareTransfer::kTickPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &FirmwareDialog::OnTick);

  BindClicks(controls_, this,
             ClickTable<FirmwareDialog>{
                 {res::kIdcFirmwareOpen, &FirmwareDialog::OnOpenFile},
                 {res::kIdcFirmwareStart, &FirmwareDialog::OnStartUpgrade},
                 {res::kIdcFirmwareStop, &FirmwareDialog::OnStopUpgrade},
             });
  connect(path_, &QLineEdit::returnPressed, this, &FirmwareDialog::OnPathEntered);
  ShowProgress();
}

FirmwareDialog::~FirmwareDialog() = default;

void FirmwareDialog::ShowNormal() {
  // A dialog is centred over its parent at every show unless it counts as placed.
  if (shown_before_) setAttribute(Qt::WA_Moved, true);
  ShowFileInfo();
  ShowProgress();
  showNormal();
  shown_before_ = true;
  raise();
  activateWindow();
}

void FirmwareDialog::HandleFirmwareReply(const ReplyFrame& frame) {
  if (frame.bytes.size() < 3 || frame.Code() != cmd::kFirmware) return;
  // Acted on once the reply handling has returned. The next frame must not go out while
  // the pump still holds the serial receive gate closed: a device that answers at once
  // would not be heard, and the transfer would stall until the resend.
  std::vector<uint8_t> bytes(frame.bytes.begin(), frame.bytes.end());
  QMetaObject::invokeMethod(
      this, [this, link = frame.link, bytes = std::move(bytes)] { Apply(transfer_.HandleReply(ReplyFrame{link, bytes})); },
      Qt::QueuedConnection);
}

void FirmwareDialog::OnOpenFile() {
  const QString chosen =
      modal_.GetOpenFileName(QtFileFilter(QString::fromUtf8(res::kFirmwareFileFilter)), path_->text());
  if (chosen.isEmpty()) return;
  Load(QDir::toNativeSeparators(chosen));
}

void FirmwareDialog::OnPathEntered() {
  const QString path = path_->text();
  if (path.isEmpty()) return;
  // Enter on the file being sent must not end its upload.
  if (transfer_.Awaiting() && path == transfer_.File().path) return;
  Load(path);
}

void FirmwareDialog::Load(const QString& path) {
  path_->setText(path);
  Apply(transfer_.ChooseFile(path));
}

// The engine takes the length again at every start, so a hand-typed path shows the file
// that is really being sent.
void FirmwareDialog::OnStartUpgrade() {
  if (start_check_ && !start_check_(link_)) return;
  Apply(transfer_.Start(path_->text(), link_));
}

void FirmwareDialog::OnStopUpgrade() { Apply(transfer_.Stop()); }

void FirmwareDialog::OnTick() { Apply(transfer_.Tick()); }

void FirmwareDialog::Apply(FotaOutcome outcome) {
  // A serial device that has gone away can neither take the next frame nor answer the
  // last one: the transfer ends now, not after the resend and the time-out.
  if (transfer_.Awaiting() && transfer_.TransferLink() == Link::Serial && serial_lost_ && serial_lost_()) {
    outcome = transfer_.SerialLost();
  }
  // The controls and the watch follow the engine before any box is shown: a real box
  // runs the event loop, and replies and ticks go on meanwhile.
  const bool was_running = uploading_;
  ShowFileInfo();
  ShowProgress();
  SyncWatch();
  ShowUploadState();
  const QString text = MessageText(outcome);
  if (was_running && !uploading_) emit UploadEnded(outcome, transfer_.TransferLink(), text);
  if (!text.isEmpty()) modal_.ShowMessage(text, MessageButtonsFor(outcome));
}

void FirmwareDialog::ShowFileInfo() {
  const FirmwareFileInfo& file = transfer_.File();
  // Nothing is shown of a file that is not open.
  name_->setText(file.name);
  size_->setText(file.name.isEmpty() ? QString() : FirmwareSizeText(file.length));
}

void FirmwareDialog::ShowProgress() {
  // A file under 1 KiB has range 0; a bar from 0 to 0 would show Qt's busy animation,
  // so it gets one step, which its one frame fills.
  const int top = std::max(FirmwareProgressRange(transfer_.File().length), 1);
  progress_->setRange(0, top);
  progress_->setValue(std::min(transfer_.ProgressPosition(), top));
}

void FirmwareDialog::SyncWatch() {
  if (!transfer_.Awaiting()) {
    timer_.stop();
  } else if (!timer_.isActive()) {
    timer_.start();
  }
}

void FirmwareDialog::ShowUploadState() {
  const bool running = transfer_.Awaiting();
  if (running == uploading_) return;
  uploading_ = running;
  ShowTitle();
  emit UploadChanged(running, transfer_.TransferLink());
}

void FirmwareDialog::ShowTitle() {
  const QString title = LayoutText(res::FirmwareDialog().title);
  if (!uploading_) {
    setWindowTitle(title);
    return;
  }
  setWindowTitle(title + (transfer_.TransferLink() == Link::Serial ? tr(" (串口)") : QStringLiteral(" (UDP)")));
}

void FirmwareDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const auto mods = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && focusWidget() == path_) {
    event->accept();  // the path box has loaded its file
    return;
  }
  if (enter && mods == Qt::NoModifier) {
    // Enter acts on the focused button, as on any dialog; anywhere else it closes.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
      button->click();
    } else {
      hide();
    }
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);  // Esc: reject(), which only hides
}

}  // namespace velmora
