#pragma once

#include <QIcon>

namespace velmora {

// The application icon, drawn rather than shipped as a file.
QIcon AppIcon();

// Asks the system to wake the pump's 1 ms timer on time rather than up to 50 us late;
// call it before any thread is started, so they all inherit it.
void TightenTimerSlack();

// Creates the application, runs the main window and returns when it closes.
int RunApplication(int argc, char** argv);

}  // namespace velmora
