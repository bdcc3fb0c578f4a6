#pragma once
// The report view of the main window, behind an interface: the runs tell it which page to
// show; the program shows the page in the system's web browser control, or a panel with
// the page's path and "Apri nel browser" where the control cannot show it; the tests
// record what it was told.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class BrowserControl;

class ReportView {
 public:
  virtual ~ReportView() = default;
  /// Shows the page at a "file:///" address.
  virtual void navigate(const std::string& url) = 0;
  /// Shows the page at the address already shown again, read anew, from its top.
  virtual void refresh() = 0;
  virtual void set_visible(bool visible) = 0;
  /// Places the view in its window's client area.
  virtual void place(int left, int top, int width, int height) = 0;
  /// Prints the page shown, the user choosing the printer first; nothing before a page.
  virtual void print() = 0;
  /// Opens a find dialog on the page shown; nothing where the view has none (the panel).
  virtual void find() {}
  /// Takes a key message meant for the view before the window's dialog navigation does;
  /// true when the view handled it.
  virtual bool translate_key(MSG&) { return false; }
  /// "Apri cartella" in the view's menu: usable while available() says so; open() opens it.
  void set_open_folder(std::function<bool()> available, std::function<void()> open) {
    folder_available_ = std::move(available);
    open_folder_ = std::move(open);
  }
  /// Called with the page's address when "Apri nel browser" could not hand it to the
  /// system's browser (the window says so).
  void set_open_failed(std::function<void(const std::string& url)> open_failed) {
    open_failed_ = std::move(open_failed);
  }

 protected:
  void report_open_failure(const std::string& url) const {
    if (open_failed_) open_failed_(url);
  }
  bool folder_available() const { return folder_available_ && folder_available_(); }
  void open_folder() const {
    if (open_folder_) open_folder_();
  }

 private:
  std::function<void(const std::string& url)> open_failed_;
  std::function<bool()> folder_available_;
  std::function<void()> open_folder_;
};

/// A panel in place of a browser: the path of the page shown and a button that opens it
/// in the system's browser. Its button is the view's place in the tab order.
class PanelReportView : public ReportView {
 public:
  PanelReportView(HWND parent, int id);
  ~PanelReportView() override;
  PanelReportView(const PanelReportView&) = delete;
  PanelReportView& operator=(const PanelReportView&) = delete;

  void navigate(const std::string& url) override;
  void refresh() override;
  void set_visible(bool visible) override;
  void place(int left, int top, int width, int height) override;
  /// The panel cannot print: the page opens in the system's browser, which can.
  void print() override;

  /// Gives the focus to the panel's button, or to the panel before there is a page.
  void focus();

  HWND panel() const { return panel_; }
  /// The address shown; "" before the first page.
  const std::string& url() const { return url_; }
  /// Opens the page in the system's browser; false, reported to the open-failed
  /// receiver, when it could not be asked to.
  bool open_in_browser() const;

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  HWND panel_ = nullptr;
  HWND caption_ = nullptr;
  HWND path_ = nullptr;
  HWND open_ = nullptr;
  std::string url_;
};

/// The page in the system's web browser control, opened at its top. When the control
/// cannot be made, or a page has not begun to show within the time-out, a PanelReportView
/// takes its place for the rest of the window's life.
class BrowserReportView : public ReportView {
 public:
  static constexpr unsigned default_timeout_ms = 5000;

  /// Makes the view in parent with the child id id; timeout_ms: how long a page may take
  /// to begin showing before the panel takes over.
  BrowserReportView(HWND parent, int id, unsigned timeout_ms = default_timeout_ms);
  ~BrowserReportView() override;
  BrowserReportView(const BrowserReportView&) = delete;
  BrowserReportView& operator=(const BrowserReportView&) = delete;

  void navigate(const std::string& url) override;
  void refresh() override;
  void set_visible(bool visible) override;
  void place(int left, int top, int width, int height) override;
  void print() override;
  void find() override;
  bool translate_key(MSG& message) override;

  /// The control's window while the control is the view; nullptr once the panel has taken over.
  HWND browser_window() const;
  /// The panel that takes over; hidden while the control is the view.
  const PanelReportView& panel() const { return panel_; }

 private:
  /// Reads the page at url_ into the control and waits for it to begin showing.
  void load(bool fresh);
  /// The panel takes the control's place.
  void fall_back();
  void stop_waiting();
  static void CALLBACK timed_out(HWND window, UINT, UINT_PTR id, DWORD);

  std::unique_ptr<BrowserControl> browser_;
  PanelReportView panel_;
  unsigned timeout_ms_;
  std::string url_;
  bool visible_ = true;
  bool arrived_ = false;  ///< the page read last has begun to show
  bool to_top_ = false;   ///< the page read last goes to its top once complete
  bool waiting_ = false;  ///< the time-out runs
};
