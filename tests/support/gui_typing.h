#pragma once
// Typing as a keyboard layout delivers it: one key event per character, Chinese
// included, which QTest::keyClicks cannot map to keys.

#include <QApplication>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

namespace velmora::test {

inline void TypeText(QWidget* w, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &release);
  }
}

}  // namespace velmora::test
