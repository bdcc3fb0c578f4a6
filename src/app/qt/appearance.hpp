#pragma once
// The look shared by the windows: their font and the pictures drawn for this program
// (the logo and the application icon), painted at run time so no image file is needed.
#include <QFont>
#include <QIcon>
#include <QPixmap>

/// Maps the windows' font family "MS Sans Serif" to the closest family installed here.
void install_font_substitutes();
/// MS Sans Serif, 8 points, bold when asked.
QFont window_font(bool bold = false);
/// The logo: 106 x 142 pixels.
QPixmap praxi_logo();
/// The application's icon, in the sizes a window manager asks for.
QIcon application_icon();
