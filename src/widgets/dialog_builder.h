#pragma once
// Turns a dialog layout into widgets: dialog units become pixels from the dialog font's
// base units, and every control is registered under its numeric id.

#include <QFont>
#include <QRect>
#include <QWidget>

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "resources/layout.h"

class QAbstractButton;
class QComboBox;
class QLabel;

namespace velmora {

class IpAddressEdit;
class LineEdit;

// Base units of a font: horizontal = average width of a-z A-Z, vertical = font height.
struct DialogUnits {
  int base_x = 6;
  int base_y = 13;
  static DialogUnits ForFont(const QFont& font);
  int X(int du) const { return (du * base_x + 2) / 4; }
  int Y(int du) const { return (du * base_y + 4) / 8; }
  QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
};

// The font a dialog of the given point size uses.
QFont DialogFont(int point_size);

class ControlMap {
 public:
  void Add(int id, QWidget* w) { by_id_[id] = w; }
  QWidget* Get(int id) const;  // asserts the id exists
  template <class T>
  T* As(int id) const {
    return qobject_cast<T*>(Get(id));
  }
  QAbstractButton* Button(int id) const;
  QComboBox* Combo(int id) const;
  LineEdit* Edit(int id) const;
  IpAddressEdit* Ip(int id) const;
  QLabel* Label(int id) const;
  bool Has(int id) const { return by_id_.count(id) != 0; }
  const std::map<int, QWidget*>& All() const { return by_id_; }

 private:
  std::map<int, QWidget*> by_id_;
};

// Creates the controls of `dialog` as children of `host`, sizes `host` to the dialog and
// gives it the dialog's font and title.
ControlMap BuildDialog(const res::Dialog& dialog, QWidget* host);

// The id a control was registered under, or res::kNoId.
int ControlId(const QWidget* w);
// Finds the control with `id` among the descendants of `root`, the nearest to it first.
QWidget* FindControl(const QWidget* root, int id);

// Binds each button's click to one handler of `owner`.
template <class Owner>
using ClickTable = std::vector<std::pair<int, void (Owner::*)()>>;

void ConnectClick(QAbstractButton* button, QObject* context, std::function<void()> handler);

template <class Owner>
void BindClicks(const ControlMap& controls, Owner* owner, const ClickTable<Owner>& table) {
  for (const auto& [id, method] : table) {
    ConnectClick(controls.Button(id), owner, [owner, m = method] { (owner->*m)(); });
  }
}

}  // namespace velmora
