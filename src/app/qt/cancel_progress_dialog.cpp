#include "cancel_progress_dialog.hpp"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

CancelProgressDialog::CancelProgressDialog(QWidget* owner, const QString& name, const QString& title,
                                           std::function<void()> on_cancel)
    : QProgressDialog(owner), on_cancel_(std::move(on_cancel)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(name);
  setWindowTitle(title);
  // A dialog does not take its owner's font by itself.
  if (owner) setFont(owner->font());
  // A title and a close box (which asks to stop, as Annulla does); no resizing.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setAutoClose(false);
  setAutoReset(false);
  setMinimumDuration(0);
  auto* annulla = new QPushButton(QStringLiteral("Annulla"), this);
  annulla->setObjectName(QStringLiteral("btnAnnulla"));
  setCancelButton(annulla);
  // The dialog's own answer to its cancel button would hide it at once.
  disconnect(this, SIGNAL(canceled()), this, SLOT(cancel()));
  connect(this, &QProgressDialog::canceled, this, [this] { on_cancel_(); });
}

void CancelProgressDialog::finish() {
  finishing_ = true;
  close();
}

void CancelProgressDialog::closeEvent(QCloseEvent* event) {
  if (finishing_) {
    // QProgressDialog's own would say canceled, as if the doctor had asked to stop.
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  on_cancel_();
}

bool CancelProgressDialog::event(QEvent* event) {
  // A window's Esc shortcut (the main window's Chiudi) would take the key first, and the
  // progress dialog's own one only hides it: Esc here belongs to the dialog, as its Annulla.
  if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
    event->accept();
    return true;
  }
  return QProgressDialog::event(event);
}

void CancelProgressDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    on_cancel_();
    return;
  }
  QProgressDialog::keyPressEvent(event);
}
