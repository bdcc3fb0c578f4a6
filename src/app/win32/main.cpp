// pivzona12: the desktop program on Windows. The main window signs the doctor in while it
// is created; a cancelled sign-in ends the process before the window is ever shown.
#include <windows.h>

#include "PIVZONA12Main.hpp"
#include "app/login.hpp"
#include "platform/automation.hpp"
#include "platform/terminal.hpp"
#include "win32_host.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  // Before any file is opened, as on every platform (nothing to do here).
  if (!platform::keep_standard_streams_apart()) return 1;
  // Automation (COM) for the user-interface thread, for the whole process.
  const platform::AutomationScope automation;
  Win32Host host;
  TfrmMain frmMain(host);
  if (!frmMain.signed_in()) return 0;
  ::ShowWindow(frmMain.hwnd(), show == SW_HIDE ? SW_SHOWNORMAL : show);
  ::UpdateWindow(frmMain.hwnd());
  while (frmMain.open() && win32ui::pump_one(true)) {
  }
  return 0;
}
