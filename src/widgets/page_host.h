#pragma once
// What a page needs from the window that holds it. Pages talk to this, not to the main
// window, so they can be built and tested without it.

#include <QString>

#include <cstdint>

#include "core/link.h"

namespace velmora {

class PageHost {
 public:
  virtual ~PageHost() = default;

  // A stamp line, then the text, at the end of the Log pane.
  virtual void AppendLog(const QString& text) = 0;
  virtual void SetStatusText(const QString& text) = 0;
  // The FOTA buttons: the firmware upgrade dialog, shown for uploads over `link`.
  virtual void OpenFirmwareDialog(Link link) = 0;
  // Before a command that changes a device (a configuration or MQTT write, a reset, an
  // upgrade) goes over `link`: false when the engineer, asked because several devices
  // are known to answer there, chose not to send it to all of them. `what` names the
  // command as its button does.
  virtual bool MaySendToAll(Link link, const QString& what) = 0;
  // A page's write to the serial port failed: the serial page says why and, when the
  // adapter has gone, closes the port and shows it closed.
  virtual void ReportSerialSendFailed() = 0;
  // A page's command went out over `link`. Without a reply of `code` on that link in time,
  // the Log pane says that `command` (the caption of the button pressed) was not answered.
  virtual void AwaitAnswer(Link link, uint8_t code, const QString& command) = 0;
  // A page opened or closed a link. Answers awaited on a closed link are no longer expected.
  virtual void LinkChanged(Link link, bool open) = 0;
};

}  // namespace velmora
