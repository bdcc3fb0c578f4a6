#pragma once
// The pieces every window of the program shares: a window object behind each HWND, the
// message pump that gives each window its keys first, the controls' font, and the scaling
// of the layouts' 96-dpi places to the window's screen.
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
  /// The dots per inch the window's controls and font are made for.
  int dpi() const { return dpi_; }
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
  /// place and size at 96 dpi (scaled to the window's dpi); with the window's font, or its
  /// bold form.
  HWND control(const wchar_t* window_class, const std::wstring& text, DWORD style, int id, int left, int top, int width,
               int height, bool bold = false);
  /// A label sized to its text, its place at 96 dpi.
  HWND label(const std::wstring& text, int id, int left, int top, bool bold = false);
  /// Moves the control id to its place and size at 96 dpi, scaled to the window's dpi, and
  /// gives it the font of that dpi; a label (size 0 × 0) takes its text's size.
  void move_control(int id, int left, int top, int width, int height, bool bold = false);
  /// A length of the layouts (96 dpi) in the window's pixels.
  int scaled(int value) const;
  /// Makes the window's controls for dpi from now on (call before making them, or then
  /// move them again).
  void set_dpi(int dpi);
  /// Enter presses the focused button, or default_button when the focus is elsewhere (0: none).
  bool press_on_enter(const MSG& message, int default_button);
  /// The size of text in the window's font at its dpi (or its bold form).
  SIZE text_extent(const std::wstring& text, bool bold) const;

  HWND hwnd_ = nullptr;
  int dpi_ = 96;

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
};

/// Registers a window class of this program: its name, procedure and background (a system
/// colour index plus one, or 0 for none); the arrow cursor; the program's icon when
/// with_icon. Returns name.
const wchar_t* register_class(const wchar_t* name, WNDPROC procedure, int background, bool with_icon = false);

/// The windows' font (the system's message font), or its bold form, for a screen of dpi
/// dots per inch; made once for each.
HFONT window_font(bool bold = false, int dpi = 0);

/// The dots per inch of the window's monitor: GetDpiForWindow where the system has it
/// (Windows 10 1607 and later), else the screen's LOGPIXELSX.
int dpi_of(HWND window);

/// Waits for the next message when wait is true, then hands it to its window (keys first
/// to the window's preview, then to the dialog navigation). False when there was none.
bool pump_one(bool wait);
/// Handles every message already queued.
void pump_pending();

/// The text of a window or control.
std::wstring text_of(HWND window);
/// The width in pixels of text in the title bars' font; 0 when the system does not say
/// which font that is.
int caption_text_width(const std::wstring& text);

/// Presses a button as a click does.
void click(HWND button);

/// Asks the system's browser to open the address url (UTF-8); false when the system
/// refused. Success means only that the request was taken, not that a browser opened it.
bool open_in_browser(HWND owner, const std::string& url);
/// Puts text on the clipboard as Unicode text; false when the clipboard could not be had.
bool copy_text(HWND owner, const std::wstring& text);

}  // namespace win32ui
