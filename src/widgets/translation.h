#pragma once
// Texts that follow the language. A widget keeps the source text it was given (Chinese,
// the program's own) and shows its translation, now and again after every switch, so a
// switch takes effect at once without rebuilding any window.

#include <QString>

#include <functional>
#include <vector>

class QAction;
class QComboBox;
class QObject;
class QWidget;
struct QMetaObject;

namespace velmora {

// The context of every text in the layout data.
inline constexpr const char* kLayoutContext = "Layout";
// The context of the Log pane's own words that several layers write (send and receive
// prefixes, marked with QT_TRANSLATE_NOOP("Log", ...)).
inline constexpr const char* kLogContext = "Log";

QString Translate(const char* context, const char* source);
inline QString LayoutText(const char* source) { return Translate(kLayoutContext, source); }

// Caption of a label, button, group box, menu or window (its title).
void SetCaption(QWidget* w, const char* context, const char* source);
void SetCaption(QAction* a, const char* context, const char* source);
void SetToolTip(QWidget* w, const char* context, const char* source);  // null: none
// The same with a class's texts (those it marks with QT_TR_NOOP) as the context.
void SetCaption(QWidget* w, const QMetaObject& context, const char* source);
void SetCaption(QAction* a, const QMetaObject& context, const char* source);
void SetToolTip(QWidget* w, const QMetaObject& context, const char* source);
// Items of a list; the selection stays where it is.
void SetItems(QComboBox* box, const char* context, const std::vector<const char*>& items);

// Runs `again` now and after every switch, for as long as `owner` lives: for texts that
// are composed rather than kept whole.
void OnLanguageChange(QObject* owner, std::function<void()> again);

// Shows every kept text under `root` (windows, their children, their actions) in the
// language now installed.
void Retranslate(QWidget* root);

// "zh" (the source language) or "en". Installs the translation, turns every open window
// to it, and returns false for a language the program does not have.
bool SetLanguage(const QString& code);
// Whether SetLanguage would take `code`; needs no application object.
bool KnownLanguage(const QString& code);
QString Language();
// The languages the program speaks, each named in its own language.
struct LanguageName {
  const char* code;
  const char* name;
};
const std::vector<LanguageName>& Languages();

}  // namespace velmora
