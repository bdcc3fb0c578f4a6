#pragma once
// The system's web browser control (CLSID_WebBrowser) hosted in a child window of its own:
// the few container interfaces the control asks its host for, its context menu ("Stampa…",
// "Apri nel browser", "Copia") and the events that tell when a page has arrived and when
// it is complete.
#include <windows.h>

#include <ocidl.h>

#include <functional>
#include <memory>
#include <string>

class BrowserSite;

class BrowserControl {
 public:
  /// What the control tells its owner; each is called on the window's thread.
  struct Events {
    /// The top page's navigation has arrived: the page is being read.
    std::function<void()> navigated;
    /// The top page is complete.
    std::function<void()> completed;
    /// "Apri nel browser" could not hand the page at url to the system's browser.
    std::function<void(const std::string& url)> open_failed;
    /// Whether "Apri cartella" is usable (a report was saved), and its choice.
    std::function<bool()> folder_available;
    std::function<void()> open_folder;
  };

  /// Creates the control, in place, in a new child window of parent (hidden; id: the
  /// window's id). nullptr when the system's control cannot be made or activated.
  static std::unique_ptr<BrowserControl> create(HWND parent, int id, Events events);
  /// Closes the control and destroys its window.
  ~BrowserControl();
  BrowserControl(const BrowserControl&) = delete;
  BrowserControl& operator=(const BrowserControl&) = delete;

  /// The child window that holds the control.
  HWND window() const { return window_; }
  /// Starts reading the page at url (UTF-8). fresh: read from the file, not from the cache,
  /// and not kept in the history. False when the control refused the navigation.
  bool navigate(const std::string& url, bool fresh);
  /// The control's ReadyState; READYSTATE_UNINITIALIZED when it cannot be read.
  READYSTATE ready_state() const;
  /// Scrolls the page shown to its top left corner.
  void scroll_to_top();
  /// Prints the page shown after the system's print dialog; false when the control has no
  /// page it can print.
  bool print();
  /// Opens the control's own find dialog on the page shown; false when the control has no
  /// page or no find dialog.
  bool find();
  /// Gives a key message meant for the page to the control before the window handles it;
  /// true when the control took it.
  bool translate_key(MSG& message);

 private:
  BrowserControl(HWND window, BrowserSite* site);
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  HWND window_;
  BrowserSite* site_;  ///< one reference, released by the destructor
  bool ole_ = false;   ///< OleInitialize succeeded, to be balanced
};
