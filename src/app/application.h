#pragma once

#include <QIcon>

namespace velmora {

// The application icon, drawn rather than shipped as a file.
QIcon AppIcon();

// Creates the application, runs the main window and returns when it closes.
int RunApplication(int argc, char** argv);

}  // namespace velmora
