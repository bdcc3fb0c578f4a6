#include "appearance.hpp"

#include <algorithm>
#include <map>
#include <vector>

#include "app/icon_image.hpp"
#include "window.hpp"

namespace win32ui {

namespace {

constexpr COLORREF deep_blue = RGB(0x15, 0x3e, 0x75);
constexpr COLORREF light_blue = RGB(0x4f, 0x8f, 0xd0);
constexpr COLORREF leaf_green = RGB(0x3c, 0xa5, 0x5c);

COLORREF blend(COLORREF from, COLORREF to, double t) {
  auto mix = [t](int a, int b) { return static_cast<int>(a + (b - a) * t + 0.5); };
  return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
             mix(GetBValue(from), GetBValue(to)));
}

void fill(HDC dc, const RECT& area, COLORREF colour) {
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &area, brush);
  ::DeleteObject(brush);
}

// The outline of the shield in area, as the current path of dc.
void shield_path(HDC dc, double left, double top, double w, double h) {
  auto pt = [](double x, double y) { return POINT{static_cast<LONG>(x + 0.5), static_cast<LONG>(y + 0.5)}; };
  ::BeginPath(dc);
  const POINT start = pt(left + w * 0.5, top);
  ::MoveToEx(dc, start.x, start.y, nullptr);
  const POINT right = pt(left + w, top + h * 0.12);
  ::LineTo(dc, right.x, right.y);
  const POINT down[] = {pt(left + w, top + h * 0.62), pt(left + w * 0.78, top + h * 0.86),
                        pt(left + w * 0.5, top + h),  pt(left + w * 0.22, top + h * 0.86),
                        pt(left, top + h * 0.62),     pt(left, top + h * 0.12)};
  ::PolyBezierTo(dc, down, 6);
  ::CloseFigure(dc);
  ::EndPath(dc);
}

// The mark: a shield filled from light to deep blue with a white cross and a green dot.
void paint_mark(HDC dc, double left, double top, double w, double h) {
  const int saved = ::SaveDC(dc);
  shield_path(dc, left, top, w, h);
  ::SelectClipPath(dc, RGN_COPY);
  // The diagonal gradient, one line at a time.
  const int steps = static_cast<int>(w + h);
  for (int i = 0; i <= steps; ++i) {
    HPEN pen = ::CreatePen(PS_SOLID, 2, blend(light_blue, deep_blue, static_cast<double>(i) / steps));
    HGDIOBJ old = ::SelectObject(dc, pen);
    ::MoveToEx(dc, static_cast<int>(left + i), static_cast<int>(top), nullptr);
    ::LineTo(dc, static_cast<int>(left + i - h), static_cast<int>(top + h));
    ::SelectObject(dc, old);
    ::DeleteObject(pen);
  }
  ::RestoreDC(dc, saved);
  shield_path(dc, left, top, w, h);
  HPEN border = ::CreatePen(PS_SOLID, std::max(1, static_cast<int>(w / 30)), RGB(255, 255, 255));
  HGDIOBJ old_pen = ::SelectObject(dc, border);
  ::StrokePath(dc);
  ::SelectObject(dc, old_pen);
  ::DeleteObject(border);

  const double arm = w * 0.16;
  const double cx = left + w * 0.5;
  const double cy = top + h * 0.42;
  HBRUSH white = ::CreateSolidBrush(RGB(255, 255, 255));
  HGDIOBJ old_brush = ::SelectObject(dc, white);
  old_pen = ::SelectObject(dc, ::GetStockObject(NULL_PEN));
  const int corner = std::max(1, static_cast<int>(arm / 2));
  ::RoundRect(dc, static_cast<int>(cx - arm / 2), static_cast<int>(cy - arm * 1.6), static_cast<int>(cx + arm / 2),
              static_cast<int>(cy + arm * 1.6), corner, corner);
  ::RoundRect(dc, static_cast<int>(cx - arm * 1.6), static_cast<int>(cy - arm / 2), static_cast<int>(cx + arm * 1.6),
              static_cast<int>(cy + arm / 2), corner, corner);
  HBRUSH green = ::CreateSolidBrush(leaf_green);
  ::SelectObject(dc, green);
  const double dot = std::max(1.0, arm * 0.36);
  ::Ellipse(dc, static_cast<int>(cx - dot), static_cast<int>(cy - dot), static_cast<int>(cx + dot + 1),
            static_cast<int>(cy + dot + 1));
  ::SelectObject(dc, old_brush);
  ::SelectObject(dc, old_pen);
  ::DeleteObject(white);
  ::DeleteObject(green);
}

void caption(HDC dc, const wchar_t* text, int pixel_size, COLORREF colour, RECT area) {
  HFONT font = ::CreateFontW(-pixel_size, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"DejaVu Sans");
  HGDIOBJ old = ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, colour);
  ::DrawTextW(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::DeleteObject(font);
}

LRESULT CALLBACK logo_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd, &paint);
    RECT area;
    ::GetClientRect(hwnd, &area);
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
    paint_logo(dc, (area.right - logo_width) / 2, (area.bottom - logo_height) / 2);
    ::EndPaint(hwnd, &paint);
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

void paint_logo(HDC dc, int left, int top) {
  // A pale band from top to bottom, framed in deep blue.
  for (int y = 0; y < logo_height; ++y) {
    const RECT line{left, top + y, left + logo_width, top + y + 1};
    fill(dc, line, blend(RGB(0xee, 0xf4, 0xfb), RGB(0xd6, 0xe4, 0xf3), static_cast<double>(y) / logo_height));
  }
  HBRUSH frame = ::CreateSolidBrush(deep_blue);
  const RECT outline{left, top, left + logo_width, top + logo_height};
  ::FrameRect(dc, &outline, frame);
  ::DeleteObject(frame);
  paint_mark(dc, left + 23, top + 10, 60, 72);
  caption(dc, L"PIV", 19, deep_blue, RECT{left, top + 86, left + logo_width, top + 110});
  caption(dc, L"ZONA 12", 13, leaf_green, RECT{left, top + 110, left + logo_width, top + 132});
}

HICON application_icon(int size) {
  static std::map<int, HICON> icons;
  if (const auto found = icons.find(size); found != icons.end()) return found->second;
  // The picture of the program's .ico, drawn at this very size.
  std::vector<std::uint8_t> entry = icon_image::icon_entry(icon_image::draw(size));
  HICON icon = ::CreateIconFromResourceEx(entry.data(), static_cast<DWORD>(entry.size()), TRUE, 0x00030000, size, size,
                                          LR_DEFAULTCOLOR);
  if (icon) icons.emplace(size, icon);
  return icon;
}

const wchar_t* logo_class() {
  static const wchar_t* name = register_class(L"PIVZONA12Logo", logo_procedure, 0);
  return name;
}

}  // namespace win32ui
