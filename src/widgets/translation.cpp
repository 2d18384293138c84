#include "widgets/translation.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QRegularExpression>
#include <QTranslator>

#include "widgets/accessibility.h"

namespace velmora {

namespace {
constexpr const char* kCaptionContext = "trCaptionContext";
constexpr const char* kCaption = "trCaption";
constexpr const char* kTipContext = "trTipContext";
constexpr const char* kTip = "trTip";
constexpr const char* kItemsContext = "trItemsContext";
constexpr const char* kItems = "trItems";

class LanguageHook : public QObject {
 public:
  LanguageHook(QObject* owner, std::function<void()> again) : QObject(owner), again_(std::move(again)) {}
  void Run() const { again_(); }

 private:
  std::function<void()> again_;
};

QString Kept(const QObject* o, const char* context_key, const char* source_key) {
  const QByteArray source = o->property(source_key).toByteArray();
  return Translate(o->property(context_key).toByteArray().constData(), source.constData());
}

void ShowCaption(QObject* o, const QString& text) {
  if (auto* a = qobject_cast<QAction*>(o)) {
    a->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(o)) {
    if (label->buddy()) {
      SetLabelText(label, text);
    } else {
      label->setText(text);
    }
  } else if (auto* button = qobject_cast<QAbstractButton*>(o)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(o)) {
    group->setTitle(text);
  } else if (auto* menu = qobject_cast<QMenu*>(o)) {
    menu->setTitle(text);
    menu->setAccessibleName(text);
  } else if (auto* w = qobject_cast<QWidget*>(o)) {
    w->setWindowTitle(text);
  }
}

void ShowKept(QObject* o) {
  if (o->property(kCaption).isValid()) ShowCaption(o, Kept(o, kCaptionContext, kCaption));
  if (o->property(kTip).isValid()) {
    if (auto* w = qobject_cast<QWidget*>(o)) w->setToolTip(Kept(o, kTipContext, kTip));
  }
  if (o->property(kItems).isValid()) {
    if (auto* box = qobject_cast<QComboBox*>(o)) {
      const QByteArray context = box->property(kItemsContext).toByteArray();
      const QByteArrayList items = box->property(kItems).value<QByteArrayList>();
      for (int i = 0; i < items.size() && i < box->count(); ++i) {
        box->setItemText(i, Translate(context.constData(), items[i].constData()));
      }
    }
  }
}

QTranslator* g_translator = nullptr;
QTranslator* g_qt_translator = nullptr;
QString g_language;  // empty until the first choice: Chinese, with nothing installed

// Qt's own texts (the standard buttons of a message box, the file dialog) in the same
// language, where the system has Qt's translations; without them they stay English.
void ShowQtTextsIn(const QString& language) {
  if (g_qt_translator) QCoreApplication::removeTranslator(g_qt_translator);
  if (language != QLatin1String("zh")) return;
  if (!g_qt_translator) g_qt_translator = new QTranslator(QCoreApplication::instance());
  if (g_qt_translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(g_qt_translator);
  }
}
}  // namespace

QString Translate(const char* context, const char* source) {
  if (!source || !*source) return QString();
  return QCoreApplication::translate(context, source);
}

void SetCaption(QWidget* w, const char* context, const char* source) {
  w->setProperty(kCaptionContext, QByteArray(context));
  w->setProperty(kCaption, QByteArray(source));
  ShowCaption(w, Translate(context, source));
}

void SetCaption(QAction* a, const char* context, const char* source) {
  a->setProperty(kCaptionContext, QByteArray(context));
  a->setProperty(kCaption, QByteArray(source));
  a->setText(Translate(context, source));
}

void SetToolTip(QWidget* w, const char* context, const char* source) {
  if (!source) {
    w->setProperty(kTip, QVariant());
    w->setToolTip(QString());
    return;
  }
  w->setProperty(kTipContext, QByteArray(context));
  w->setProperty(kTip, QByteArray(source));
  w->setToolTip(Translate(context, source));
}

void SetItems(QComboBox* box, const char* context, const std::vector<const char*>& items) {
  QByteArrayList kept;
  for (const char* item : items) kept << QByteArray(item);
  box->setProperty(kItemsContext, QByteArray(context));
  box->setProperty(kItems, QVariant::fromValue(kept));
  for (const char* item : items) box->addItem(Translate(context, item));
}

void SetCaption(QWidget* w, const QMetaObject& context, const char* source) {
  SetCaption(w, context.className(), source);
}
void SetCaption(QAction* a, const QMetaObject& context, const char* source) {
  SetCaption(a, context.className(), source);
}
void SetToolTip(QWidget* w, const QMetaObject& context, const char* source) {
  SetToolTip(w, context.className(), source);
}

void OnLanguageChange(QObject* owner, std::function<void()> again) {
  new LanguageHook(owner, std::move(again));
}

void Retranslate(QWidget* root) {
  ShowKept(root);
  for (QObject* o : root->findChildren<QObject*>()) ShowKept(o);
  // Composed texts last: they may build on kept ones.
  for (const QObject* o : root->findChildren<QObject*>()) {
    // A class without its own meta-object is told apart by the language, not by Qt.
    if (const auto* hook = dynamic_cast<const LanguageHook*>(o)) hook->Run();
  }
}

const std::vector<LanguageName>& Languages() {
  static const std::vector<LanguageName> names{{"zh", "中文"}, {"en", "English"}};
  return names;
}

namespace {
// "en_US" and "zh-CN" name the same languages as "en" and "zh".
QString LanguageOf(const QString& code) {
  return code.trimmed().toLower().section(QRegularExpression(QStringLiteral("[_-]")), 0, 0);
}
}  // namespace

bool KnownLanguage(const QString& code) {
  const QString wanted = LanguageOf(code);
  for (const LanguageName& l : Languages()) {
    if (wanted == QLatin1String(l.code)) return true;
  }
  return false;
}

bool SetLanguage(const QString& code) {
  const QString wanted = LanguageOf(code);
  if (wanted == g_language) return true;
  if (wanted == QLatin1String("zh")) {
    if (g_translator) QCoreApplication::removeTranslator(g_translator);
  } else if (wanted == QLatin1String("en")) {
    if (!g_translator) g_translator = new QTranslator(QCoreApplication::instance());
    if (!g_translator->load(QStringLiteral(":/i18n/velmora_en.qm"))) return false;
    QCoreApplication::installTranslator(g_translator);
  } else {
    return false;
  }
  ShowQtTextsIn(wanted);
  g_language = wanted;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->parent()) Retranslate(w);
  }
  return true;
}

QString Language() { return g_language.isEmpty() ? QStringLiteral("zh") : g_language; }

}  // namespace velmora
