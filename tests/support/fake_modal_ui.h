#pragma once
// Answers message boxes and file dialogs without showing anything, and remembers what was asked.

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

#include "core/modal_ui.h"

namespace velmora::test {

class FakeModalUi : public ModalUi {
 public:
  MessageAnswer ShowMessage(const QString& text, MessageButtons buttons) override {
    messages.append(text);
    last_buttons = buttons;
    ++open_boxes;
    if (max_open_boxes < open_boxes) max_open_boxes = open_boxes;
    if (while_shown) while_shown();  // e.g. run the event loop, as a real modal box would
    --open_boxes;
    return answer;
  }
  QString GetOpenFileName(const QString& filter, const QString& start) override {
    open_filters.append(filter);
    open_starts.append(start);
    return Next();
  }
  QString GetSaveFileName(const QString& filter, const QString& default_suffix) override {
    save_filters.append(filter);
    save_suffixes.append(default_suffix);
    return Next();
  }

  QStringList messages;
  MessageButtons last_buttons = MessageButtons::Ok;
  MessageAnswer answer = MessageAnswer::Ok;
  std::function<void()> while_shown;
  int open_boxes = 0;
  int max_open_boxes = 0;

  std::deque<QString> file_answers;  // next file dialog answers; empty string = cancelled
  QStringList open_filters;
  QStringList open_starts;
  QStringList save_filters;
  QStringList save_suffixes;

 private:
  QString Next() {
    if (file_answers.empty()) return {};
    QString s = file_answers.front();
    file_answers.pop_front();
    return s;
  }
};

}  // namespace velmora::test
