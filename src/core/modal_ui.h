#pragma once
// Every message box and file dialog of the program goes through this interface, so
// tests can read the text and answer without a blocking window. Header only: the
// transports and the transfer logic use it without linking Qt Widgets.

#include <QString>
#include <QStringList>

namespace velmora {

enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

class ModalUi {
 public:
  virtual ~ModalUi() = default;

  // A modal message box with a fixed text. Returns when the user has answered.
  virtual MessageAnswer ShowMessage(const QString& text, MessageButtons buttons = MessageButtons::Ok) = 0;

  // Filters are Qt filters ("Data Files (*.bin);;All Files (*.*)"). An empty result means cancelled.
  // The dialog starts at `start`, a file or folder the user typed, where it exists; else
  // (and when it is empty) in the folder of the last file chosen with this filter.
  virtual QString GetOpenFileName(const QString& filter, const QString& start) = 0;
  // No overwrite prompt; `default_suffix` without the dot ("xlsx").
  virtual QString GetSaveFileName(const QString& filter, const QString& default_suffix) = 0;
};

}  // namespace velmora

namespace velmora {

// "Data Files(*.bin)|*.bin|All Files (*.*)|*.*||" -> "Data Files(*.bin);;All Files (*.*)":
// the display texts of a pipe-separated filter list, in the form Qt's file dialogs take.
inline QString QtFileFilter(const QString& pipe_filter) {
  const QStringList parts = pipe_filter.split(QLatin1Char('|'));
  QStringList names;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (!parts[i].isEmpty()) names << parts[i];
  }
  return names.join(QLatin1String(";;"));
}

}  // namespace velmora
