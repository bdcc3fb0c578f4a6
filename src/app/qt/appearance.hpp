#pragma once
// The look shared by the windows: their font, the pictures drawn for this program (the
// logo and the application icon, painted at run time so no image file is needed), and
// the placing of controls at fixed positions.
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;

/// Maps the windows' font family "MS Sans Serif" to the closest family installed here.
void install_font_substitutes();
/// Italian for the program whatever the system's locale: the default locale (dates,
/// numbers, the date pickers' calendars) and Qt's own texts (dialog buttons, the save
/// dialog, the print dialog: Qt's catalogue, then the program's own for the texts Qt's
/// leaves in English). False when Qt's Italian translations are not installed; the texts
/// stay English.
bool install_italian();
/// The windows' style: the platform's own, with the focus mark drawn on the focused
/// control whether the focus came from the keyboard or the mouse.
void install_window_style();
/// Everything above, for the program and its window tests, after QApplication exists.
void prepare_application();
/// MS Sans Serif, 8 points, bold when asked.
QFont window_font(bool bold = false);
/// The logo: 106 x 142 pixels.
QPixmap praxi_logo();
/// The application's icon, in the sizes a window manager asks for.
QIcon application_icon();

/// Names widget (its control name, for the tests) and puts it at left, top with its size.
template <typename Widget>
Widget* place_control(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

/// A label sized to its text, at left, top.
QLabel* place_label(QWidget* parent, const char* name, const QString& text, int left, int top, bool bold = false);
