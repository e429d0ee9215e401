// Tessaro_App: the front panel program for a real Vesk-3 hand controller on
// its FT230X bridge, through libftdi1.
#include "drivers/libftdi_driver.h"
#include "panel/tessaro_app_app.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  LibFtdiDriver driver;
  RealPlatform platform;
  return RunTessaroApp(argc, argv, driver, platform);
}
