#pragma once

namespace velmora {

// Creates the application, runs the main window and returns when it closes.
int RunApplication(int argc, char** argv);

}  // namespace velmora
