// Takes the README's pictures of the Windows desktop program on a demo installation, under
// Wine on an X server with a window manager (run by screenshots.sh): the sign-in window
// with the user and the password typed, and the main window after a diabetes run, showing
// the report view's place (under Wine, with no browser engine, the panel with the page's
// path and "Apri nel browser"). Writes win-login.png and win-main.png into the folder given
// as the first argument: the screen's pixels in each window's rectangle, saved as PNG by the
// Windows Imaging Component. With a second argument NAME it writes instead the whole screen
// after the run, win-screen-NAME.png: where the window opens on a screen of that size.
#include <windows.h>

#include <shellapi.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdio>
#include <functional>
#include <string>

#include "PIVZONA12Main.hpp"
#include "formLogin.hpp"
#include "platform/automation.hpp"
#include "win32_host.hpp"

namespace {

using Microsoft::WRL::ComPtr;

// Handles the window's messages for a while, so that everything shown is painted.
void settle(DWORD milliseconds) {
  const DWORD start = ::GetTickCount();
  do {
    win32ui::pump_pending();
    ::Sleep(20);
  } while (::GetTickCount() - start < milliseconds);
}

// Handles messages until done() holds or the time is up; false when it is up.
bool wait_for(const std::function<bool()>& done, DWORD milliseconds) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > milliseconds) return false;
    win32ui::pump_pending();
    ::Sleep(50);
  }
  return true;
}

// Saves a bitmap as a PNG file; the reason when it cannot.
std::string save_png(HBITMAP bitmap, const std::wstring& path) {
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))))
    return "no imaging component";
  ComPtr<IWICBitmap> source;
  if (FAILED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &source)))
    return "the bitmap cannot be read";
  UINT width = 0, height = 0;
  source->GetSize(&width, &height);
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(factory->CreateStream(&stream)) || FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)))
    return "the file cannot be written";
  if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
      FAILED(frame->SetSize(width, height)) || FAILED(frame->SetPixelFormat(&format)) ||
      FAILED(frame->WriteSource(source.Get(), nullptr)) || FAILED(frame->Commit()) || FAILED(encoder->Commit()))
    return "the PNG encoder failed";
  return "";
}

// The screen's pixels in area, as a PNG file.
bool save_area(const RECT& area, const std::wstring& path) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT);
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  const std::string error = copied ? save_png(bitmap, path) : "the screen cannot be read";
  ::DeleteObject(bitmap);
  if (!error.empty()) std::fprintf(stderr, "win32_screenshots: %ls: %s\n", path.c_str(), error.c_str());
  return error.empty();
}

// The screen's pixels in the window's rectangle, frame included, as a PNG file.
bool save_window(HWND window, const std::wstring& path) {
  settle(700);
  RECT area{};
  ::GetWindowRect(window, &area);
  return save_area(area, path);
}

// The whole screen, as a PNG file.
bool save_screen(const std::wstring& path) {
  settle(700);
  const RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  return save_area(area, path);
}

// A visible, enabled button of the window (or its children) with this text.
bool has_button(HWND window, const wchar_t* text) {
  struct Search {
    const wchar_t* text;
    bool found;
  } search{text, false};
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        wchar_t name[16] = {};
        ::GetClassNameW(child, name, 16);
        if (lstrcmpiW(name, L"Button") == 0 && win32ui::text_of(child) == s->text && ::IsWindowVisible(child) &&
            ::IsWindowEnabled(child))
          s->found = true;
        return !s->found;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: win32_screenshots OUTPUT_DIR [SCREEN_NAME]\n");
    return 64;
  }
  const std::wstring out = argv[1];
  // With a screen's name, the whole screen after the run instead of the windows' pictures.
  const std::wstring screen_name = argc == 3 ? argv[2] : L"";
  ::LocalFree(argv);

  const platform::AutomationScope automation;
  Win32Host host;
  bool ok = true;
  host.set_modal_hook([&](HWND login) {
    ::SetWindowTextW(::GetDlgItem(login, TfrmLogin::id_editUtente), L"demo");
    ::SetWindowTextW(::GetDlgItem(login, TfrmLogin::id_editPassword), L"demo");
    ::SetFocus(::GetDlgItem(login, TfrmLogin::id_ButtonOk));
    if (screen_name.empty()) ok = save_window(login, out + L"\\win-login.png") && ok;
    win32ui::click(::GetDlgItem(login, TfrmLogin::id_ButtonOk));
  });
  // The save dialog answers with the name it offers, in the current directory.
  host.set_file_dialog_hook([](OPENFILENAMEW& request) {
    wchar_t directory[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    const std::wstring path = std::wstring(directory) + L"\\" + request.lpstrFile;
    lstrcpynW(request.lpstrFile, path.c_str(), static_cast<int>(request.nMaxFile));
    return true;
  });
  host.set_message_box_hook([](const std::wstring& text, const std::wstring&, UINT) {
    std::fprintf(stderr, "win32_screenshots: message: %ls\n", text.c_str());
    return IDOK;
  });

  TfrmMain frmMain(host);
  host.set_modal_hook({});
  if (!frmMain.signed_in()) {
    std::fprintf(stderr, "win32_screenshots: the demo doctor was not signed in\n");
    return 1;
  }
  ::ShowWindow(frmMain.hwnd(), SW_SHOWNORMAL);
  ::UpdateWindow(frmMain.hwnd());
  settle(300);
  win32ui::click(frmMain.item(TfrmMain::id(main_layout::btnCalcola)));
  if (frmMain.controller().last_run().outcome != RunOutcome::saved) {
    std::fprintf(stderr, "win32_screenshots: the diabetes run saved no report\n");
    return 1;
  }
  // The report view shows the page, or, with no browser engine, the panel that offers it.
  if (!wait_for([&] { return has_button(frmMain.hwnd(), L"Apri nel browser"); }, 30000))
    std::fprintf(stderr, "win32_screenshots: no \"Apri nel browser\" in the window: the view shows the page\n");
  if (screen_name.empty())
    ok = save_window(frmMain.hwnd(), out + L"\\win-main.png") && ok;
  else
    ok = save_screen(out + L"\\win-screen-" + screen_name + L".png") && ok;
  ::DestroyWindow(frmMain.hwnd());
  return ok ? 0 : 1;
}
