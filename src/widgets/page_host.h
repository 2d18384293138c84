#pragma once
// What a page needs from the window that holds it. Pages talk to this, not to the main
// window, so they can be built and tested without it.

#include <QString>

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
  // A page's write to the serial port failed: the serial page says why and, when the
  // adapter has gone, closes the port and shows it closed.
  virtual void ReportSerialSendFailed() = 0;
};

}  // namespace velmora
