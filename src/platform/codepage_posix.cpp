// The ANSI code page on POSIX: the locale's charset, read without touching the process
// locale, or PIVZONA12_CODEPAGE; conversions through iconv.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage.hpp"

namespace platform {

namespace {

bool same_ignoring_case(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

/// The locale's charset as the environment (LC_ALL, LC_CTYPE, LANG) names it. A private
/// locale object is used so that the process locale is never changed.
std::string locale_charset() {
  locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return "UTF-8";  // unknown locale name
  std::string charset;
  if (const char* name = nl_langinfo_l(CODESET, loc)) charset = name;
  freelocale(loc);
  // The C and POSIX locales report plain ASCII; their 8-bit texts are taken as UTF-8.
  if (charset.empty() || same_ignoring_case(charset, "ANSI_X3.4-1968") || same_ignoring_case(charset, "ASCII") ||
      same_ignoring_case(charset, "US-ASCII"))
    return "UTF-8";
  return charset;
}

/// A bad character of 8-bit input is one byte. (One of UTF-8 input spans what
/// utf8_sequence_length says: a whole well formed sequence the code page lacks, or the
/// one stray byte.)
std::size_t one_byte(std::string_view) { return 1; }

class Converter {
 public:
  Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  /// Converts input; a character that cannot be converted becomes "?" and the
  /// conversion goes on after it. skip tells how many input bytes a bad character spans.
  std::string run(std::string_view input, std::size_t (*skip)(std::string_view)) {
    std::string out;
    out.reserve(input.size() + input.size() / 2 + 4);
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    char buffer[4096];
    while (in_left > 0) {
      char* dst = buffer;
      std::size_t dst_left = sizeof buffer;
      std::size_t rc = iconv(cd_, &in, &in_left, &dst, &dst_left);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (rc != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ: not representable or invalid; EINVAL: incomplete at the end.
      std::size_t n = errno == EINVAL ? in_left : skip(std::string_view(in, in_left));
      out += '?';
      in += n;
      in_left -= n;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
    }
    // Flush any pending shift sequence of a stateful code page.
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    if (iconv(cd_, nullptr, nullptr, &dst, &dst_left) != static_cast<std::size_t>(-1))
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
    return out;
  }

 private:
  iconv_t cd_;
};

std::string convert(std::string_view input, const std::string& to, const std::string& from, bool input_is_utf8) {
  if (input.empty()) return {};
  Converter converter(to, from);
  if (!converter.ok()) {
    // A code page iconv does not know: fall back to UTF-8 on both sides.
    Converter utf8("UTF-8", "UTF-8");
    if (!utf8.ok()) return std::string(input);
    return utf8.run(input, utf8_sequence_length);
  }
  return input_is_utf8 ? converter.run(input, utf8_sequence_length) : converter.run(input, one_byte);
}

}  // namespace

std::string ansi_codepage() {
  if (const char* forced = std::getenv("PIVZONA12_CODEPAGE"); forced && *forced) return forced;
  return locale_charset();
}

std::string to_ansi(std::string_view utf8) { return convert(utf8, ansi_codepage(), "UTF-8", true); }

std::string from_ansi(std::string_view ansi) { return convert(ansi, "UTF-8", ansi_codepage(), false); }

}  // namespace platform
