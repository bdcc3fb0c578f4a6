#pragma once
// UTF-8 as the whole system reads and writes it, with one rule: a character is a
// well-formed sequence of Unicode's table (no overlong forms, no surrogates, at most four
// bytes, nothing above U+10FFFF). Any other byte stands alone as a stray byte, so that
// whatever follows a malformed byte is read as it would be without it.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform::utf8 {

/// U+FFFD, the character that stands for what is not a character.
inline constexpr char32_t replacement_character = 0xFFFD;

/// The character that starts a text.
struct Decoded {
  char32_t code_point = 0;   ///< the character; replacement_character for a stray byte
  std::size_t length = 0;    ///< bytes taken: the sequence's, 1 for a stray byte, 0 for empty text
  bool well_formed = false;  ///< false for a stray byte and for empty text
};

/// Decodes the character that starts text.
Decoded decode(std::string_view text);

/// Bytes taken by the character that starts text: its whole sequence when it is well
/// formed, else 1 (a stray byte stands alone); 0 for empty text.
inline std::size_t sequence_length(std::string_view text) {
  if (text.empty()) return 0;
  if (static_cast<unsigned char>(text[0]) < 0x80) return 1;
  return decode(text).length;
}

/// True when the whole text is well-formed UTF-8.
bool well_formed(std::string_view text);

/// text with every stray byte (one that is not part of a well-formed sequence) replaced
/// by "?", one for each: what is taken for UTF-8 text is then always well formed.
std::string replace_stray_bytes(std::string_view text);

/// Appends the UTF-8 sequence of code_point to out; a surrogate or a value above
/// U+10FFFF, which have none, is written as U+FFFD.
void append(std::string& out, char32_t code_point);

}  // namespace platform::utf8
