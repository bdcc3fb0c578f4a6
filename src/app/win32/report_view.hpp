#pragma once
// The report view of the main window, behind an interface: the runs tell it which page to
// show; the program shows a panel with the page's path and "Apri nel browser", the tests
// record what it was told.
#include <windows.h>

#include <string>

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
};

/// A panel in place of a browser: the path of the page shown and a button that opens it
/// in the system's browser. Its button is the view's place in the tab order.
class PanelReportView : public ReportView {
 public:
  PanelReportView(HWND parent, int id);
  void navigate(const std::string& url) override;
  void refresh() override;
  void set_visible(bool visible) override;
  void place(int left, int top, int width, int height) override;

  HWND panel() const { return panel_; }
  /// The address shown; "" before the first page.
  const std::string& url() const { return url_; }
  /// Opens the page in the system's browser; false when it could not be asked to.
  bool open_in_browser() const;

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  HWND panel_ = nullptr;
  HWND caption_ = nullptr;
  HWND path_ = nullptr;
  HWND open_ = nullptr;
  std::string url_;
};
