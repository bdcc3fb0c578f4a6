// pivzona12: the desktop program. The main window signs the doctor in while it is
// created; a cancelled sign-in ends the process before the window is ever shown.
#include <QApplication>

#include "PIVZONA12Main.hpp"
#include "app/login.hpp"
#include "appearance.hpp"
#include "platform/automation.hpp"
#include "platform/terminal.hpp"
#include "qt_host.hpp"

int main(int argc, char** argv) {
  // Before any file is opened: a closed standard stream must not pass its number to one.
  if (!platform::keep_standard_streams_apart()) return 1;
  // Automation (COM on Windows) for the user-interface thread, for the whole process.
  const platform::AutomationScope automation;
  // The report view shares its graphics context with the windows.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(application_title));
  QApplication::setWindowIcon(application_icon());
  prepare_application();

  QtHost host;

  int status = 0;
  {
    auto* frmMain = new TfrmMain(host);
    frmMain->setAttribute(Qt::WA_DeleteOnClose);
    if (frmMain->signed_in()) {
      frmMain->show();
      status = QApplication::exec();
    } else {
      delete frmMain;
    }
  }
  return status;
}
