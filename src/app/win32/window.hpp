#pragma once
// The pieces every window of the program shares: a window object behind each HWND, the
// message pump that gives each window its keys first, and the controls' font.
#include <windows.h>

#include <string>

namespace win32ui {

/// A top-level window: the object lives as long as its HWND and receives its messages.
class Window {
 public:
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND hwnd() const { return hwnd_; }
  /// The child control with this id.
  HWND item(int id) const { return ::GetDlgItem(hwnd_, id); }

  /// Takes a key message meant for this window or one of its controls before anything
  /// else does; true when it was handled.
  virtual bool preview(MSG& message);

 protected:
  Window() = default;
  /// Creates the window of the program's one window class; the object receives its messages.
  void create(DWORD ex_style, DWORD style, const std::wstring& caption, int left, int top, int width, int height,
              HWND owner);
  virtual LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  /// A child control: its class, text, style (WS_CHILD and WS_VISIBLE are added), id,
  /// place and size; with the window's font, or its bold form.
  HWND control(const wchar_t* window_class, const std::wstring& text, DWORD style, int id, int left, int top, int width,
               int height, bool bold = false);
  /// A label sized to its text.
  HWND label(const std::wstring& text, int id, int left, int top, bool bold = false);
  /// Enter presses the focused button, or default_button when the focus is elsewhere (0: none).
  bool press_on_enter(const MSG& message, int default_button);

  HWND hwnd_ = nullptr;

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
};

/// Registers a window class of this program: its name, procedure and background (a system
/// colour index plus one, or 0 for none); the arrow cursor. Returns name.
const wchar_t* register_class(const wchar_t* name, WNDPROC procedure, int background);

/// The windows' font (the system's message font), or its bold form; made once.
HFONT window_font(bool bold = false);

/// Waits for the next message when wait is true, then hands it to its window (keys first
/// to the window's preview, then to the dialog navigation). False when there was none.
bool pump_one(bool wait);
/// Handles every message already queued.
void pump_pending();

/// The text of a window or control.
std::wstring text_of(HWND window);

/// Presses a button as a click does.
void click(HWND button);

/// Asks the system's browser to open the address url (UTF-8); false when the system
/// refused. Success means only that the request was taken, not that a browser opened it.
bool open_in_browser(HWND owner, const std::string& url);
/// Puts text on the clipboard as Unicode text; false when the clipboard could not be had.
bool copy_text(HWND owner, const std::wstring& text);

}  // namespace win32ui
