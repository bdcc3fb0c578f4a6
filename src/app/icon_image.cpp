#include "app/icon_image.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace icon_image {

namespace {

struct Point {
  double x, y;
};
struct Colour {
  double r, g, b;
};

constexpr Colour deep_blue{0x15, 0x3e, 0x75};
constexpr Colour light_blue{0x4f, 0x8f, 0xd0};
constexpr Colour leaf_green{0x3c, 0xa5, 0x5c};
constexpr Colour white{255, 255, 255};

Colour blend(const Colour& from, const Colour& to, double t) {
  return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t};
}

// A cubic Bézier curve from p0 to p3 as straight pieces, appended to the outline (p0 is
// already in it).
void flatten(std::vector<Point>& outline, Point p0, Point p1, Point p2, Point p3) {
  constexpr int pieces = 32;
  for (int i = 1; i <= pieces; ++i) {
    const double t = static_cast<double>(i) / pieces;
    const double u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    outline.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
  }
}

bool inside(const std::vector<Point>& polygon, Point p) {
  bool in = false;
  for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const Point& a = polygon[i];
    const Point& b = polygon[j];
    if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) in = !in;
  }
  return in;
}

double distance_to_outline(const std::vector<Point>& polygon, Point p) {
  double best = 1e300;
  for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const Point& a = polygon[j];
    const Point& b = polygon[i];
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0.0;
    best = std::min(best, std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy)));
  }
  return best;
}

// A rectangle with rounded corners of radius r.
bool in_rounded_rect(Point p, double left, double top, double right, double bottom, double r) {
  if (p.x < left || p.x > right || p.y < top || p.y > bottom) return false;
  const double cx = std::clamp(p.x, left + r, right - r);
  const double cy = std::clamp(p.y, top + r, bottom - r);
  return std::hypot(p.x - cx, p.y - cy) <= r;
}

void put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xff));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xff));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  put16(out, value & 0xffff);
  put16(out, value >> 16);
}

}  // namespace

Image draw(int size) {
  // The shield's box inside the square, as the window's logo draws it: a margin of a
  // sixteenth, twice that on the sides.
  const double margin = size / 16.0;
  const double left = margin * 2, top = margin, w = size - margin * 4, h = size - margin * 2;
  std::vector<Point> shield{{left + w * 0.5, top}, {left + w, top + h * 0.12}};
  flatten(shield, shield.back(), {left + w, top + h * 0.62}, {left + w * 0.78, top + h * 0.86},
          {left + w * 0.5, top + h});
  flatten(shield, shield.back(), {left + w * 0.22, top + h * 0.86}, {left, top + h * 0.62}, {left, top + h * 0.12});
  const double border = std::max(1.0, w / 30);
  const double arm = w * 0.16;
  const double cx = left + w * 0.5, cy = top + h * 0.42;
  const double corner = arm / 4;
  const double dot = std::max(0.5, arm * 0.36);

  // The colour of one point of the picture; false outside it.
  auto sample = [&](Point p, Colour& colour) {
    const bool in_shield = inside(shield, p);
    if (distance_to_outline(shield, p) <= border / 2) {
      colour = white;
      return true;
    }
    if (!in_shield) return false;
    if (std::hypot(p.x - cx, p.y - cy) <= dot) {
      colour = leaf_green;
    } else if (in_rounded_rect(p, cx - arm / 2, cy - arm * 1.6, cx + arm / 2, cy + arm * 1.6, corner) ||
               in_rounded_rect(p, cx - arm * 1.6, cy - arm / 2, cx + arm * 1.6, cy + arm / 2, corner)) {
      colour = white;
    } else {
      colour = blend(light_blue, deep_blue, std::clamp(((p.x - left) + (p.y - top)) / (w + h), 0.0, 1.0));
    }
    return true;
  };

  // Each pixel is the mean of a grid of samples: the edges fade into the transparency.
  const int grid = size <= 64 ? 8 : 4;
  Image image{size, std::vector<std::uint8_t>(static_cast<std::size_t>(size) * size * 4, 0)};
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      Colour sum{0, 0, 0};
      int covered = 0;
      for (int sy = 0; sy < grid; ++sy) {
        for (int sx = 0; sx < grid; ++sx) {
          Colour c{};
          if (sample({x + (sx + 0.5) / grid, y + (sy + 0.5) / grid}, c)) {
            sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
            ++covered;
          }
        }
      }
      if (covered == 0) continue;
      std::uint8_t* pixel = &image.rgba[(static_cast<std::size_t>(y) * size + x) * 4];
      pixel[0] = static_cast<std::uint8_t>(std::lround(sum.r / covered));
      pixel[1] = static_cast<std::uint8_t>(std::lround(sum.g / covered));
      pixel[2] = static_cast<std::uint8_t>(std::lround(sum.b / covered));
      pixel[3] = static_cast<std::uint8_t>(std::lround(255.0 * covered / (grid * grid)));
    }
  }
  return image;
}

std::vector<std::uint8_t> icon_entry(const Image& image) {
  const int n = image.size;
  const std::size_t mask_row = static_cast<std::size_t>((n + 31) / 32) * 4;
  std::vector<std::uint8_t> out;
  out.reserve(40 + static_cast<std::size_t>(n) * n * 4 + mask_row * n);
  // BITMAPINFOHEADER: the height counts the colour rows and the mask's.
  put32(out, 40);
  put32(out, static_cast<std::uint32_t>(n));
  put32(out, static_cast<std::uint32_t>(n * 2));
  put16(out, 1);
  put16(out, 32);
  put32(out, 0);  // BI_RGB
  put32(out, static_cast<std::uint32_t>(static_cast<std::size_t>(n) * n * 4 + mask_row * n));
  for (int i = 0; i < 4; ++i) put32(out, 0);
  // The colours, bottom row first, as B, G, R, A.
  for (int y = n - 1; y >= 0; --y) {
    for (int x = 0; x < n; ++x) {
      const std::uint8_t* p = &image.rgba[(static_cast<std::size_t>(y) * n + x) * 4];
      out.insert(out.end(), {p[2], p[1], p[0], p[3]});
    }
  }
  // The mask for systems that ignore the alpha: a set bit is a transparent pixel.
  for (int y = n - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(mask_row, 0);
    for (int x = 0; x < n; ++x)
      if (image.rgba[(static_cast<std::size_t>(y) * n + x) * 4 + 3] == 0)
        row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

std::vector<std::uint8_t> ico_file(const std::vector<Image>& images) {
  std::vector<std::uint8_t> out;
  // ICONDIR, then one ICONDIRENTRY of 16 bytes per picture, then the pictures.
  put16(out, 0);
  put16(out, 1);
  put16(out, static_cast<unsigned>(images.size()));
  std::vector<std::vector<std::uint8_t>> entries;
  for (const Image& image : images) entries.push_back(icon_entry(image));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    const auto side = static_cast<std::uint8_t>(images[i].size >= 256 ? 0 : images[i].size);  // 0 is 256
    out.insert(out.end(), {side, side, 0, 0});
    put16(out, 1);   // planes
    put16(out, 32);  // bits per pixel
    put32(out, static_cast<std::uint32_t>(entries[i].size()));
    put32(out, offset);
    offset += static_cast<std::uint32_t>(entries[i].size());
  }
  for (const auto& entry : entries) out.insert(out.end(), entry.begin(), entry.end());
  return out;
}

}  // namespace icon_image
