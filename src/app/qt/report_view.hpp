#pragma once
// The report view of the main window: a web view that opens every page it loads at its
// top, and whose context menu offers what a doctor needs: print, open in the browser, copy.
#include <functional>

#include <QWebEngineView>

class QMenu;

class ReportView : public QWebEngineView {
  Q_OBJECT

 public:
  explicit ReportView(QWidget* parent = nullptr);

  /// The context menu: "Stampa…", "Apri nel browser" (both only while a page is shown),
  /// "Apri cartella" (once a report was saved), "Trova…" (only while a page is shown) and
  /// "Copia" (only with a selection). The caller owns it.
  QMenu* create_report_menu();

  /// Hands an address to the system's browser; false when none took it. The system's
  /// (QDesktopServices) unless set (tests).
  using BrowserOpener = std::function<bool(const QUrl& url)>;
  void set_browser_opener(BrowserOpener opener) { opener_ = std::move(opener); }
  /// Whether "Apri cartella" is offered usable: once a report was saved.
  void set_folder_available(bool available) { folder_available_ = available; }

  /// "Apri nel browser": the page shown goes to the system's browser; open_failed when
  /// none took it.
  void open_in_browser();

 signals:
  /// "Stampa…" was chosen.
  void print_wanted();
  /// "Apri cartella" was chosen.
  void open_folder_wanted();
  /// "Trova…" was chosen.
  void find_wanted();
  /// No browser took the page at url.
  void open_failed(const QString& url);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  BrowserOpener opener_;
  bool folder_available_ = false;
};
