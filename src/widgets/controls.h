#pragma once
// The control kinds Qt lacks: a dotted IPv4 address box and an edit that refuses
// non-digits and counts its limit in GBK bytes. Plus the list-position rules of the
// drop-down lists.

#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QWidget>

#include <array>
#include <cstdint>

namespace velmora {

class LineEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit LineEdit(QWidget* parent = nullptr);

  void SetDigitsOnly(bool on, bool allow_decimal_point = false);
  // Limit on what the user types, in GBK bytes (0 = none). Text set by the program is kept whole.
  void SetByteLimit(int bytes);
  int ByteLimit() const { return byte_limit_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void EnforceLimit();
  bool digits_ = false;
  bool decimal_ = false;
  int byte_limit_ = 0;
};

// A drop-down list whose accessible name is its label and whose value is its item (Qt's
// own names it after the item on Linux).
class ComboBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
};

class IpAddressEdit : public QFrame {
  Q_OBJECT
 public:
  explicit IpAddressEdit(QWidget* parent = nullptr);

  // Blank fields count as 0, so an empty control reads "0.0.0.0".
  QString text() const;
  std::array<uint8_t, 4> Octets() const;
  void SetOctets(const std::array<uint8_t, 4>& octets);
  // Accepts a dotted text; fields that are missing or not numbers become blank.
  void setText(const QString& dotted);
  void Clear();
  QLineEdit* Field(int i) const { return fields_[static_cast<std::size_t>(i)]; }

  // Names the control and its four fields for screen readers: "Local IP", "Local IP 1/4", ...
  void SetAccessibleLabel(const QString& name);
  // The whole address is selected (Ctrl+A): typing replaces it, copy takes all of it.
  bool WholeSelected() const { return whole_selected_; }
  // Why the last keystroke was refused, empty when none was.
  QString RefusalText() const { return refusal_; }

 signals:
  void textChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Layout();
  // One typed or pasted text into field `i`: a dotted address anywhere replaces the whole
  // address, digits go in at the cursor. False when refused (a field over 255).
  bool Insert(std::size_t i, const QString& text);
  void SelectWhole();
  void Refuse(std::size_t i, const QString& why);
  void MoveTo(std::size_t i, bool select);

  std::array<QLineEdit*, 4> fields_{};
  std::array<QWidget*, 3> dots_{};
  bool whole_selected_ = false;
  // A field filled to three digits moved on by itself: a "." typed next is the one the
  // engineer meant for that move, not a request for one more.
  bool just_advanced_ = false;
  QString refusal_;
};

// The selected position of a drop-down list, -1 when nothing is selected or when the
// engineer typed a text that is not the selected item.
int ListPosition(const QComboBox* combo);
// Selects `pos`; a position that names no item leaves the list without a selection.
void SetListPosition(QComboBox* combo, int pos);

}  // namespace velmora
