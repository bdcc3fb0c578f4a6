#pragma once
// The program's own pictures: the logo beside the sign-in and the doctor's data, drawn with
// GDI, and the windows' icon, the drawing of the program's .ico (icon_image). The same
// design as the Qt windows': a shield with a cross.
#include <windows.h>

namespace win32ui {

inline constexpr int logo_width = 106;
inline constexpr int logo_height = 142;

/// Draws the logo with its top left corner at (left, top).
void paint_logo(HDC dc, int left, int top);
/// The icon at size × size pixels, with its alpha; made once per size, never freed.
HICON application_icon(int size);
/// The window class of a picture control that shows the logo centred in its area.
const wchar_t* logo_class();

}  // namespace win32ui
