#pragma once
// The program's icon drawn in plain C++ (no GDI, no Qt): the shield with the cross, as
// straight-alpha RGBA pixels, and the Windows .ico file made of several sizes of it. The
// build writes the program's .ico with it (make_icon), and the Windows windows take their
// icons from the same drawing, so the file and the windows show one picture.
#include <cstdint>
#include <vector>

namespace icon_image {

/// A square picture: size × size pixels, rows from the top, 4 bytes each (R, G, B, A).
struct Image {
  int size = 0;
  std::vector<std::uint8_t> rgba;
};

/// The sizes in the program's .ico: the small and large icons at 100–200 % scaling,
/// Explorer's views, and 256 for its largest view.
inline constexpr int ico_sizes[] = {16, 20, 24, 32, 40, 48, 64, 256};

/// The icon at size × size pixels (size ≥ 1), anti-aliased, transparent outside the shield.
Image draw(int size);

/// One picture in the form an .ico entry (and CreateIconFromResourceEx) takes: a 32-bit
/// bottom-up DIB with its alpha, twice the height in its header, then the 1-bit mask.
std::vector<std::uint8_t> icon_entry(const Image& image);

/// An .ico file holding the pictures in their order (each at most 256 pixels wide).
std::vector<std::uint8_t> ico_file(const std::vector<Image>& images);

}  // namespace icon_image
