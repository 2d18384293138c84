#include "console/ui/send_dialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <string>

#include "core/link.h"
#include "core/modal_ui.h"
#include "log/traffic_log.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"
#include "resources/console_layout.h"
#include "transport/serial_port.h"
#include "transport/udp_endpoint.h"
#include "widgets/controls.h"
#include "widgets/translation.h"

namespace velmora {

namespace {

using namespace res;

int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  return -1;
}

ConsoleBytes Problem(ConsoleBytes::Problem problem, qsizetype at) {
  ConsoleBytes out;
  out.problem = problem;
  out.at = at;
  return out;
}

ConsoleBytes HexBytes(const QString& text) {
  ConsoleBytes out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i].isSpace()) continue;
    const int high = HexDigit(text[i]);
    if (high < 0) return Problem(ConsoleBytes::Problem::NotHex, i);
    if (i + 1 >= text.size() || text[i + 1].isSpace()) return Problem(ConsoleBytes::Problem::LoneDigit, i);
    const int low = HexDigit(text[i + 1]);
    if (low < 0) return Problem(ConsoleBytes::Problem::NotHex, i + 1);
    out.bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    ++i;
  }
  return out;
}

ConsoleBytes TextBytes(const QString& text, bool line_end) {
  const std::string gbk = ToGbk(text);
  if (FromGbk(gbk) != text) {
    // The first character GBK has no code for; a pair of surrogates is one character.
    for (qsizetype i = 0; i < text.size();) {
      const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
      const QString ch = text.mid(i, len);
      if (FromGbk(ToGbk(ch)) != ch) return Problem(ConsoleBytes::Problem::NotGbk, i);
      i += len;
    }
  }
  ConsoleBytes out;
  out.bytes.assign(gbk.begin(), gbk.end());
  if (line_end) out.bytes.insert(out.bytes.end(), {'\r', '\n'});
  return out;
}

// The engineer counts characters as seen: a pair of surrogates is one.
qsizetype CharacterNumber(const QString& text, qsizetype index) {
  qsizetype n = 1;
  for (qsizetype i = 0; i < index; ++i) n += text[i].isHighSurrogate() ? 0 : 1;
  return n;
}

}  // namespace

ConsoleBytes ConsoleData(const QString& text, bool hex, bool line_end) {
  ConsoleBytes out = hex ? HexBytes(text) : TextBytes(text, line_end);
  if (out.problem == ConsoleBytes::Problem::None && out.bytes.empty()) out.problem = ConsoleBytes::Problem::Empty;
  return out;
}

SendDialog::SendDialog(PageHost& host, SerialPort& serial, UdpEndpoint& udp, ModalUi& modal, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      host_(host),
      serial_(serial),
      udp_(udp),
      modal_(modal) {
  controls_ = BuildDialog(res::SendDialog(), this);
  setFixedSize(size());
  // Enter in the text box sends.
  auto* send = qobject_cast<QPushButton*>(controls_.Button(kIdcConsoleSend));
  send->setDefault(true);
  SetListPosition(controls_.Combo(kIdcConsoleFormat), kConsoleHex);
  connect(controls_.Combo(kIdcConsoleFormat), &QComboBox::currentIndexChanged, this, [this] { ShowFormat(); });
  BindClicks(controls_, this, ClickTable<SendDialog>{{kIdcConsoleSend, &SendDialog::OnSend}});
  ShowFormat();
  ShowLinks();
  // The link names and the list's empty text are set here, not kept by a control.
  OnLanguageChange(this, [this] { ShowLinks(); });
}

void SendDialog::ShowNormal() {
  // A dialog is centred over its parent at every show unless it counts as placed.
  if (shown_before_) setAttribute(Qt::WA_Moved, true);
  ShowLinks();
  showNormal();
  shown_before_ = true;
  raise();
  activateWindow();
  controls_.Edit(kIdcConsoleData)->setFocus(Qt::OtherFocusReason);
}

bool SendDialog::HexChosen() const { return ListPosition(controls_.Combo(kIdcConsoleFormat)) != kConsoleText; }

void SendDialog::ShowFormat() {
  // In hex the bytes typed are the bytes sent; a line end is typed as 0D 0A.
  controls_.Get(kIdcConsoleLineEnd)->setEnabled(!HexChosen());
}

void SendDialog::ShowLinks() {
  QComboBox* list = controls_.Combo(kIdcConsoleLink);
  const QVariant chosen = list->currentData();
  {
    const QSignalBlocker quiet(list);
    list->clear();
    if (serial_.IsOpen()) list->addItem(tr("串口"), static_cast<int>(Link::Serial));
    if (udp_.IsOpen()) list->addItem(QStringLiteral("UDP"), static_cast<int>(Link::Udp));
    const int keep = chosen.isValid() ? list->findData(chosen) : -1;
    list->setCurrentIndex(keep >= 0 ? keep : (list->count() > 0 ? 0 : -1));
    list->setPlaceholderText(tr("未打开"));
  }
  const bool any = list->count() > 0;
  list->setEnabled(any);
  QWidget* send = controls_.Get(kIdcConsoleSend);
  send->setEnabled(any);
  SetToolTip(send, staticMetaObject,
             any ? nullptr : QT_TR_NOOP("没有打开的链路: 请先在USART页打开串口或在ENET页打开UDP."));
}

void SendDialog::OnSend() {
  const QVariant chosen = controls_.Combo(kIdcConsoleLink)->currentData();
  if (!chosen.isValid()) return;
  const auto link = static_cast<Link>(chosen.toInt());
  const bool line_end = controls_.Button(kIdcConsoleLineEnd)->isChecked();
  const ConsoleBytes data = ConsoleData(controls_.Edit(kIdcConsoleData)->text(), HexChosen(), line_end);
  if (data.problem != ConsoleBytes::Problem::None) {
    ShowProblem(data);
    return;
  }
  // The link may have closed since the list was filled (a port whose adapter went away).
  if (!(link == Link::Serial ? serial_.IsOpen() : udp_.IsOpen())) {
    ShowLinks();
    return;
  }
  bool sent = true;
  if (link == Link::Serial) {
    sent = serial_.Write(data.bytes.data(), data.bytes.size());
  } else {
    udp_.SendToDevice(data.bytes.data(), data.bytes.size());  // a failure shows its own box
  }
  // Logged whether or not the link took the bytes, as the pages do.
  host_.AppendLog(SentFrameLine(link, HexText(data.bytes)));
  if (!sent) host_.ReportSerialSendFailed();
}

void SendDialog::ShowProblem(const ConsoleBytes& data) {
  LineEdit* edit = controls_.Edit(kIdcConsoleData);
  const QString text = edit->text();
  QString message;
  qsizetype len = 0;
  if (data.problem == ConsoleBytes::Problem::Empty) {
    message = tr("没有要发送的数据.");
  } else {
    len = text[data.at].isHighSurrogate() && data.at + 1 < text.size() ? 2 : 1;
    const QString ch = text.mid(data.at, len);
    const QString number = QString::number(CharacterNumber(text, data.at));
    switch (data.problem) {
      case ConsoleBytes::Problem::NotHex:
        message = tr("第%1个字符“%2”不是十六进制数字: 十六进制数据只能是十六进制数字和空格.").arg(number, ch);
        break;
      case ConsoleBytes::Problem::LoneDigit:
        message = tr("第%1个字符“%2”缺少另一位: 每个字节是两位十六进制数字.").arg(number, ch);
        break;
      default:
        message = tr("第%1个字符“%2”无法用GBK编码发送.").arg(number, ch);
        break;
    }
  }
  modal_.ShowMessage(message);
  edit->setFocus(Qt::OtherFocusReason);
  if (len > 0) edit->setSelection(data.at, len);
}

}  // namespace velmora
