#pragma once
// What screen readers and UI automation are told about our controls beyond Qt's defaults.

#include <QString>

class QLabel;
class QWidget;

namespace velmora {

// Once per program: the accessible interfaces of the toolkit's own control classes.
void InstallAccessibility();

// The name a side label gives the control it stands beside: its text without the colon
// and the mnemonic marker.
QString LabelName(const QString& label_text);

// Names a control for readers; an address box names its four fields after it too.
void NameControl(QWidget* control, const QString& name);

// Sets a side label's text and renames the control it stands for (its buddy), so a reader
// hears the label the engineer sees ("本地端口" once "目标端口:" has been relabelled).
void SetLabelText(QLabel* label, const QString& text);

}  // namespace velmora
