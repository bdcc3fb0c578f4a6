#include "report_view.hpp"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include "app/main_layout.hpp"

ReportView::ReportView(QWidget* parent) : QWebEngineView(parent) {
  // A reload keeps the page's scroll position by default; every run reloads the same
  // file with another report, which must open at its title.
  QWebEngineScript top;
  top.setName(QStringLiteral("open-at-top"));
  top.setInjectionPoint(QWebEngineScript::DocumentCreation);
  top.setWorldId(QWebEngineScript::MainWorld);
  top.setSourceCode(QStringLiteral("history.scrollRestoration = 'manual';"));
  page()->scripts().insert(top);
}

QMenu* ReportView::create_report_menu() {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("reportMenu"));
  const bool shown = !url().isEmpty();
  QAction* print = menu->addAction(QString::fromUtf8(main_layout::action_print), this, &ReportView::print_wanted);
  print->setShortcut(QKeySequence::Print);
  print->setEnabled(shown);
  QAction* browser =
      menu->addAction(QString::fromUtf8(main_layout::action_open_in_browser), this, &ReportView::open_in_browser);
  browser->setEnabled(shown);
  QAction* folder =
      menu->addAction(QString::fromUtf8(main_layout::action_open_folder), this, &ReportView::open_folder_wanted);
  folder->setEnabled(folder_available_);
  menu->addSeparator();
  QAction* find = menu->addAction(QString::fromUtf8(main_layout::action_find), this, &ReportView::find_wanted);
  find->setShortcut(QKeySequence::Find);
  find->setEnabled(shown);
  QAction* copy = menu->addAction(QString::fromUtf8(main_layout::action_copy), this,
                                  [this] { triggerPageAction(QWebEnginePage::Copy); });
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(page()->hasSelection());
  return menu;
}

void ReportView::open_in_browser() {
  const QUrl shown = url();
  if (shown.isEmpty()) return;
  const bool opened = opener_ ? opener_(shown) : QDesktopServices::openUrl(shown);
  if (!opened) emit open_failed(shown.toString());
}

void ReportView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = create_report_menu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
  event->accept();
}
