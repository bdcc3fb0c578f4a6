#include "find_bar.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "app/main_layout.hpp"

FindBar::FindBar(QWebEngineView* view, QWidget* parent) : QWidget(parent), view_(view) {
  setObjectName(QStringLiteral("findBar"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 2, 0, 2);
  row->setSpacing(6);

  auto* label = new QLabel(QString::fromUtf8(main_layout::find_label), this);
  text_ = new QLineEdit(this);
  text_->setObjectName(QStringLiteral("findText"));
  text_->setClearButtonEnabled(true);
  text_->installEventFilter(this);
  label->setBuddy(text_);
  auto* previous = new QPushButton(QString::fromUtf8(main_layout::find_previous), this);
  previous->setObjectName(QStringLiteral("findPrevious"));
  auto* next = new QPushButton(QString::fromUtf8(main_layout::find_next), this);
  next->setObjectName(QStringLiteral("findNext"));
  count_ = new QLabel(this);
  count_->setObjectName(QStringLiteral("findCount"));
  auto* close = new QToolButton(this);
  close->setObjectName(QStringLiteral("findClose"));
  close->setText(QStringLiteral("\u2715"));
  close->setToolTip(QString::fromUtf8(main_layout::find_close));
  close->setAutoRaise(true);

  row->addWidget(label);
  row->addWidget(text_, 1);
  row->addWidget(previous);
  row->addWidget(next);
  row->addWidget(count_);
  row->addStretch(1);
  row->addWidget(close);

  connect(text_, &QLineEdit::textChanged, this, [this] { find(false); });
  connect(previous, &QPushButton::clicked, this, [this] { find(true); });
  connect(next, &QPushButton::clicked, this, [this] { find(false); });
  connect(close, &QToolButton::clicked, this, [this] { close_bar(); });
  connect(view_->page(), &QWebEnginePage::findTextFinished, this, &FindBar::show_result);
  hide();
}

void FindBar::open() {
  const bool was_hidden = isHidden();
  show();
  if (was_hidden) emit shown_changed(true);
  text_->setFocus(Qt::ShortcutFocusReason);
  text_->selectAll();
  if (was_hidden && !text_->text().isEmpty()) find(false);
}

void FindBar::close_bar(bool refocus_view) {
  if (isHidden()) return;
  const bool focus_inside = isAncestorOf(QApplication::focusWidget());
  hide();
  // An empty search ends the find session and takes its highlight off the page.
  view_->page()->findText(QString());
  count_->clear();
  emit shown_changed(false);
  if (refocus_view && focus_inside) view_->setFocus(Qt::OtherFocusReason);
}

QString FindBar::count_text() const { return count_->text(); }

void FindBar::find(bool backward) {
  const QString text = text_->text();
  if (text.isEmpty()) {
    view_->page()->findText(QString());
    count_->clear();
    return;
  }
  view_->page()->findText(text, backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags());
}

void FindBar::show_result(const QWebEngineFindTextResult& result) {
  // The result of a search already replaced by an empty text, or after the bar closed,
  // is not shown.
  if (isHidden() || text_->text().isEmpty()) return;
  count_->setText(result.numberOfMatches() == 0
                      ? QString::fromUtf8(main_layout::find_none)
                      : QStringLiteral("%1 di %2").arg(result.activeMatch()).arg(result.numberOfMatches()));
}

bool FindBar::event(QEvent* event) {
  // The window's Esc presses Chiudi; inside the bar it closes the bar instead. The
  // override and the key itself reach the bar from whichever of its controls has the focus.
  const bool escape = (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
                      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
  if (escape) {
    event->accept();
    if (event->type() == QEvent::KeyPress) close_bar();
    return true;
  }
  return QWidget::event(event);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == text_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      find(key->modifiers().testFlag(Qt::ShiftModifier));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
