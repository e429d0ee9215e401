// The program start-up: the application object that runs the main window.
//
// Owns: the order of start-up and shutdown (driver and platform installed,
// high-DPI scaling off, the application object, the application title, the
// one modal window, the link closed at the end). Does not own: which driver
// or platform a program uses (each program's main passes them in).
#pragma once

#include <QString>

class FtDriver;
class Platform;

class CTessaro_AppApp {
 public:
  // Runs the main window modally; always false: the program ends when the
  // window has closed.
  bool InitInstance();
};

// The application title: the executable's file name without its extension.
QString ApplicationTitle(const char* argv0);

// The whole program on the given driver and platform; returns the exit code.
int RunTessaroApp(int argc, char** argv, FtDriver& driver, Platform& platform);
