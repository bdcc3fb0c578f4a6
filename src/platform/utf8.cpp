#include "platform/utf8.hpp"

namespace platform::utf8 {

Decoded decode(std::string_view text) {
  if (text.empty()) return {};
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char lead = p[0];
  if (lead < 0x80) return {lead, 1, true};
  constexpr Decoded stray{replacement_character, 1, false};
  // The lead byte gives the length and the range of the byte after it: the narrower
  // ranges after E0, ED, F0 and F4 shut out the overlong forms, the surrogates and what
  // lies above U+10FFFF.
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;
  char32_t code_point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return stray;
  }
  if (text.size() < n || p[1] < low || p[1] > high) return stray;
  code_point = (code_point << 6) | (p[1] & 0x3F);
  for (std::size_t i = 2; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return stray;
    code_point = (code_point << 6) | (p[i] & 0x3F);
  }
  return {code_point, n, true};
}

bool well_formed(std::string_view text) {
  while (!text.empty()) {
    if (static_cast<unsigned char>(text[0]) < 0x80) {
      text.remove_prefix(1);
      continue;
    }
    const Decoded c = decode(text);
    if (!c.well_formed) return false;
    text.remove_prefix(c.length);
  }
  return true;
}

std::string replace_stray_bytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const Decoded c = decode(text);
    if (c.well_formed)
      out.append(text.substr(0, c.length));
    else
      out += '?';
    text.remove_prefix(c.length);
  }
  return out;
}

void append(std::string& out, char32_t code_point) {
  if ((code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF) code_point = replacement_character;
  char bytes[4];
  std::size_t n = 0;
  if (code_point < 0x80) {
    bytes[n++] = static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    bytes[n++] = static_cast<char>(0xC0 | (code_point >> 6));
    bytes[n++] = static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    bytes[n++] = static_cast<char>(0xE0 | (code_point >> 12));
    bytes[n++] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    bytes[n++] = static_cast<char>(0xF0 | (code_point >> 18));
    bytes[n++] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (code_point & 0x3F));
  }
  out.append(bytes, n);
}

}  // namespace platform::utf8
