// The program's icon drawn in plain C++: its pictures at every size, and the .ico file
// that the build writes from them, read back as Windows reads it.
#include "app/icon_image.hpp"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using icon_image::Image;

struct Pixel {
  int r, g, b, a;
};

Pixel at(const Image& image, double fx, double fy) {
  const int x = static_cast<int>(fx * image.size);
  const int y = static_cast<int>(fy * image.size);
  const std::uint8_t* p = &image.rgba[(static_cast<std::size_t>(y) * image.size + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

unsigned read16(const std::vector<std::uint8_t>& d, std::size_t at) { return d.at(at) | (d.at(at + 1) << 8); }
std::uint32_t read32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return read16(d, at) | (static_cast<std::uint32_t>(read16(d, at + 2)) << 16);
}

class IconPicture : public ::testing::TestWithParam<int> {};

// Transparent around the shield, opaque blue inside it, the white cross and the green dot at
// the centre of its upper half, and soft (partly transparent) edges.
TEST_P(IconPicture, ShowsTheShieldWithItsCross) {
  const Image image = icon_image::draw(GetParam());
  ASSERT_EQ(image.size, GetParam());
  ASSERT_EQ(image.rgba.size(), static_cast<std::size_t>(GetParam()) * GetParam() * 4);
  for (const auto& [fx, fy] : {std::pair{0.0, 0.0}, {0.99, 0.0}, {0.0, 0.99}, {0.99, 0.99}})
    EXPECT_EQ(at(image, fx, fy).a, 0) << fx << "," << fy;
  const Pixel body = at(image, 0.5, 0.75);
  EXPECT_EQ(body.a, 255);
  EXPECT_GT(body.b, body.r + 60) << "the shield is blue";
  const Pixel cross = at(image, 0.5, 0.3);
  EXPECT_EQ(cross.a, 255);
  EXPECT_GT(cross.r + cross.g + cross.b, 3 * 220) << "the cross is white";
  if (GetParam() >= 32) {
    const Pixel dot = at(image, 0.5, 0.43);
    EXPECT_GT(dot.g, dot.r + 60) << "the dot is green";
    EXPECT_GT(dot.g, dot.b + 40) << "the dot is green";
  }
  int soft = 0;
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) soft += image.rgba[i] > 0 && image.rgba[i] < 255;
  EXPECT_GT(soft, GetParam() / 2) << "the edges are not anti-aliased";
}

INSTANTIATE_TEST_SUITE_P(Sizes, IconPicture, ::testing::ValuesIn(icon_image::ico_sizes),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

// The .ico file: its directory lists every picture with its size, 32 bits per pixel, and
// where its bytes are; each picture is a DIB of twice its height whose colours (bottom row
// first, B G R A) and mask (a set bit: transparent) match the drawing.
TEST(IcoFile, HoldsEveryPictureAsWindowsReadsIt) {
  std::vector<Image> images;
  for (const int size : {16, 48, 256}) images.push_back(icon_image::draw(size));
  const std::vector<std::uint8_t> file = icon_image::ico_file(images);
  ASSERT_GE(file.size(), 6u);
  EXPECT_EQ(read16(file, 0), 0u);
  EXPECT_EQ(read16(file, 2), 1u) << "not an icon";
  ASSERT_EQ(read16(file, 4), images.size());
  std::size_t expected_offset = 6 + 16 * images.size();
  for (std::size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE(images[i].size);
    const std::size_t entry = 6 + 16 * i;
    const int n = images[i].size;
    EXPECT_EQ(file[entry], n == 256 ? 0 : n);
    EXPECT_EQ(file[entry + 1], n == 256 ? 0 : n);
    EXPECT_EQ(read16(file, entry + 4), 1u);
    EXPECT_EQ(read16(file, entry + 6), 32u);
    const std::uint32_t length = read32(file, entry + 8);
    const std::uint32_t offset = read32(file, entry + 12);
    EXPECT_EQ(offset, expected_offset);
    const std::size_t mask_row = static_cast<std::size_t>((n + 31) / 32) * 4;
    ASSERT_EQ(length, 40 + static_cast<std::size_t>(n) * n * 4 + mask_row * n);
    ASSERT_LE(offset + length, file.size());
    EXPECT_EQ(read32(file, offset), 40u);
    EXPECT_EQ(read32(file, offset + 4), static_cast<std::uint32_t>(n));
    EXPECT_EQ(read32(file, offset + 8), static_cast<std::uint32_t>(2 * n));
    EXPECT_EQ(read16(file, offset + 14), 32u);
    // The top left pixel is the first of the last colour row, and of the last mask row.
    const std::size_t top_row = offset + 40 + static_cast<std::size_t>(n - 1) * n * 4;
    const std::size_t centre = top_row - static_cast<std::size_t>(n / 4) * n * 4 + (n / 2) * 4;  // (n/2, n/4)
    const std::uint8_t* drawn = &images[i].rgba[(static_cast<std::size_t>(n / 4) * n + n / 2) * 4];
    EXPECT_EQ(file[centre], drawn[2]);
    EXPECT_EQ(file[centre + 2], drawn[0]);
    EXPECT_EQ(file[centre + 3], drawn[3]);
    EXPECT_EQ(file[top_row + 3], 0) << "the corner is transparent";
    const std::size_t mask = offset + 40 + static_cast<std::size_t>(n) * n * 4;
    EXPECT_EQ(file[mask + mask_row * (n - 1)] & 0x80, 0x80) << "the corner is not masked";
    EXPECT_EQ(file[mask + mask_row * (n - 1 - n / 4) + (n / 2) / 8] & (0x80 >> ((n / 2) % 8)), 0)
        << "the shield is masked";
    expected_offset += length;
  }
  EXPECT_EQ(expected_offset, file.size());
}

}  // namespace
