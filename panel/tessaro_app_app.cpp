#include "panel/tessaro_app_app.h"

#include <QApplication>
#include <QFileInfo>

#include "panel/tessaro_app_dlg.h"
#include "services/program_state.h"

namespace {

// The 240 x 320 mirror is drawn pixel for pixel: Qt must not scale the window.
void SwitchOffHighDpiScaling() {
  qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  qunsetenv("QT_SCALE_FACTOR");
  qunsetenv("QT_SCREEN_SCALE_FACTORS");
}

}  // namespace

bool CTessaro_AppApp::InitInstance() {
  {
    CTessaro_AppDlg dialog;
    (void)dialog.exec();  // however the window ends, the program ends
  }
  return false;
}

QString ApplicationTitle(const char* argv0) {
  if (argv0 == nullptr) return QString();
  return QFileInfo(QString::fromLocal8Bit(argv0)).completeBaseName();
}

int RunTessaroApp(int argc, char** argv, FtDriver& driver, Platform& platform) {
  // Program end is the scope's end: the link closes if it is still open,
  // before the driver goes.
  ProgramScope program(driver, platform);
  SwitchOffHighDpiScaling();
  QApplication application(argc, argv);
  QApplication::setApplicationName(ApplicationTitle(argc > 0 ? argv[0] : nullptr));
  CTessaro_AppApp app;
  (void)app.InitInstance();
  return 0;
}
