// make_icon FILE: writes the program's icon, in every size of icon_image::ico_sizes, as the
// .ico file FILE. Built for the machine that builds the program and run by the build.
#include <cstdio>
#include <fstream>
#include <vector>

#include "app/icon_image.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "uso: make_icon FILE.ico\n");
    return 2;
  }
  std::vector<icon_image::Image> images;
  for (const int size : icon_image::ico_sizes) images.push_back(icon_image::draw(size));
  const std::vector<std::uint8_t> bytes = icon_image::ico_file(images);
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_icon: impossibile scrivere %s\n", argv[1]);
    return 1;
  }
  return 0;
}
