#pragma once
// The send console: bytes typed by hand, as hex pairs or as text, sent as they are over an
// open link and logged like any frame sent; the answers show in the Log pane as always.
//
// The main window creates one on first use (Tools menu) and keeps it; closing only hides
// it, so the text typed is there the next time.

#include <QDialog>
#include <QString>

#include <cstdint>
#include <vector>

#include "widgets/dialog_builder.h"
#include "widgets/page_host.h"

namespace velmora {

class ModalUi;
class SerialPort;
class UdpEndpoint;

// What the console sends for a text, or where the text goes wrong.
struct ConsoleBytes {
  enum class Problem { None, Empty, NotHex, LoneDigit, NotGbk };
  std::vector<uint8_t> bytes;
  Problem problem = Problem::None;
  qsizetype at = -1;  // index of the character at fault
};
// Hex: pairs of hex digits, any spaces between the pairs. Text: its GBK bytes (the
// device's encoding), then CR LF when `line_end`; in hex the bytes typed are all.
ConsoleBytes ConsoleData(const QString& text, bool hex, bool line_end);

class SendDialog : public QDialog {
  Q_OBJECT
 public:
  // The host logs and hears of failed serial writes; it, the links and `modal` must
  // outlive the dialog.
  SendDialog(PageHost& host, SerialPort& serial, UdpEndpoint& udp, ModalUi& modal, QWidget* parent = nullptr);

  // Shows the window in front with the text box ready; centred over its parent the first
  // time, where the engineer left it afterwards.
  void ShowNormal();
  // The links open now into the list, the one chosen kept while it stays open. With none
  // open, Send is off and its tip says why.
  void ShowLinks();
  // The Send button.
  void OnSend();

  const ControlMap& Controls() const { return controls_; }

 private:
  void ShowFormat();
  bool HexChosen() const;
  // Says what is wrong and where, and selects that character.
  void ShowProblem(const ConsoleBytes& data);

  PageHost& host_;
  SerialPort& serial_;
  UdpEndpoint& udp_;
  ModalUi& modal_;
  ControlMap controls_;
  bool shown_before_ = false;
};

}  // namespace velmora
