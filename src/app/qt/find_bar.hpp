#pragma once
// The find bar under the report view: a text field, "Precedente", "Successivo", the count
// of the matches ("N di M", "Nessun risultato") and a close button. It searches the page
// as the doctor types; Enter goes to the next match, Shift+Enter to the previous one, Esc
// closes the bar and gives the focus back to the report.
#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;
class QWebEngineFindTextResult;
class QWebEngineView;

class FindBar : public QWidget {
  Q_OBJECT

 public:
  /// A hidden bar that searches the page shown by view; view must outlive the bar.
  FindBar(QWebEngineView* view, QWidget* parent);

  /// Shows the bar with the focus in its field, its text selected; a text already there
  /// is searched again.
  void open();
  /// Hides the bar and clears the page's highlight; the focus goes back to the view when
  /// it was in the bar and refocus_view is true.
  void close_bar(bool refocus_view = true);

  /// The count shown: "N di M", "Nessun risultato", or empty before a search.
  QString count_text() const;

 signals:
  /// The bar was shown or hidden: the window gives the view its room again.
  void shown_changed(bool shown);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void find(bool backward);
  void show_result(const QWebEngineFindTextResult& result);

  QWebEngineView* view_;
  QLineEdit* text_ = nullptr;
  QLabel* count_ = nullptr;
};
