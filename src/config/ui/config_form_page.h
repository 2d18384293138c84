#pragma once
// The configuration form both configuration pages show: its controls and rules, reading
// and showing a ConfigForm, the six device commands and the handling of the replies.
// A page adds its link row and says what differs (ConfigPageTraits).

#include <QWidget>

#include <cstdint>
#include <functional>
#include <span>

#include "widgets/dialog_builder.h"
#include "widgets/page_host.h"
#include "config/config_record.h"
#include "protocol/command_frame.h"
#include "protocol/receive_pump.h"
#include "resources/config_layouts.h"

namespace velmora {

struct ConfigPageTraits {
  const res::Dialog& layout;
  res::FormListIds lists;
  // Sends one Command frame over the page's link and gives back its hex text. False when
  // the link did not take the frame (the UDP endpoint has shown why by then).
  std::function<bool(uint8_t code, std::span<const uint8_t> payload, QString& hex)> send;
  Link link;  // carries the page's frames; the page's FOTA button uploads over it
};

class ConfigFormPage : public QWidget {
  Q_OBJECT
 public:
  ConfigFormPage(PageHost& host, ConfigPageTraits traits, QWidget* parent = nullptr);

  const ControlMap& Controls() const { return controls_; }

  // The form as the controls hold it now; texts as GBK bytes.
  ConfigForm ReadForm() const;

  // A decoded record into the controls, with the DHCP and network-mode rules applied as
  // if the engineer had made the changes. Absent heartbeat or registration texts leave
  // their boxes as they are.
  void ShowForm(const ConfigForm& form);
  // A saved form into the controls: the HEX box as the form says (a device reply leaves
  // it alone), then as ShowForm.
  void ShowSavedForm(const ConfigForm& form);

  // Configuration and firmware replies from the page's link; the firmware dialog takes
  // the firmware replies themselves.
  void HandleReply(const ReplyFrame& frame);

  // An upload runs, or has ended: the FOTA button's tip says which link it uses.
  void ShowUpload(bool running, Link link);

  // Time for the MAC generator and the clock command; tests fix it.
  void SetClock(std::function<LocalTime()> clock) { clock_ = std::move(clock); }

 protected:
  void Log(const QString& text) const;
  // A command's frame, already logged, that the link did not take.
  virtual void OnSendFailed() {}
  PageHost& Host() const { return host_; }

 private:
  enum class Rules { Keep, Apply };
  void Fill(const ConfigForm& form, Rules rules);
  void ApplyDhcpRule();
  void ApplyNetModeRule();
  // Enables or disables a form control without handing the keyboard focus to another.
  void SetEnabled(int id, bool enabled);

  void OnDhcp();
  void OnGenerateMac();
  void OnWriteConfig();
  void OnReadConfig();
  void OnReadVersion();
  void OnSoftwareReset();
  void OnReadCsq();
  void OnSyncClock();
  void OnFota();
  // The command of `button`: sent, logged, and its answer awaited when it went out.
  void Send(int button, uint8_t code, std::span<const uint8_t> payload = {});

  void ShowVersion(const ReplyFrame& frame);
  bool ShowCsq(const ReplyFrame& frame);
  bool ShowClock(const ReplyFrame& frame);

  PageHost& host_;
  ConfigPageTraits traits_;
  ControlMap controls_;
  std::function<LocalTime()> clock_ = CurrentLocalTime;
};

}  // namespace velmora
