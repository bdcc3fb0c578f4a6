#pragma once
// The report view of the main window: a web view that opens every page it loads at its
// top, and whose context menu offers what a doctor needs: print, open in the browser, copy.
#include <QWebEngineView>

class QMenu;

class ReportView : public QWebEngineView {
  Q_OBJECT

 public:
  explicit ReportView(QWidget* parent = nullptr);

  /// The context menu: "Stampa…", "Apri nel browser" (both only while a page is shown)
  /// and "Copia" (only with a selection). The caller owns it.
  QMenu* create_report_menu();

 signals:
  /// "Stampa…" was chosen.
  void print_wanted();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
};
