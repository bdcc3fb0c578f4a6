#pragma once
// The progress dialog of work the doctor can stop (a run, a print): a title, two lines of
// text, the bar and "Annulla". Annulla, Esc and the close box all call on_cancel and
// nothing else: the dialog stays up until its owner calls finish(), so that it can say
// it is stopping while the work winds down.
#include <functional>

#include <QProgressDialog>

class CancelProgressDialog : public QProgressDialog {
 public:
  /// owner: the window it belongs to; name: its object name; deletes itself once closed.
  CancelProgressDialog(QWidget* owner, const QString& name, const QString& title, std::function<void()> on_cancel);

  /// Closes the dialog for good.
  void finish();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::function<void()> on_cancel_;
  bool finishing_ = false;
};
