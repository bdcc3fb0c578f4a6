// The ANSI code page on POSIX: the locale's charset, read without touching the process
// locale, or PIVZONA12_CODEPAGE; conversions through iconv.
//
// Working out the charset opens a locale object, and opening a conversion opens an iconv
// descriptor: both cost far more than converting a line. Each thread therefore keeps the
// charset it worked out, with the environment values it came from, and one open
// descriptor per direction, reset before each use. The charset is worked out again only
// when one of those environment values changes (in practice once per process), and a
// descriptor is opened again only when the charset changes. Keeping them per thread
// needs no lock: a run on a worker thread and the window's thread never share one.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage.hpp"
#include "platform/utf8.hpp"

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

/// The environment values the code page depends on, in this order.
constexpr std::array<const char*, 4> setting_names = {"PIVZONA12_CODEPAGE", "LC_ALL", "LC_CTYPE", "LANG"};
using Setting = std::array<std::string, setting_names.size()>;

/// True when setting already holds the environment's values; else stores them in it.
/// An unset variable reads as "", which every use of them treats as unset.
bool setting_unchanged(Setting& setting) {
  bool same = true;
  for (std::size_t i = 0; i < setting_names.size(); ++i) {
    const char* value = std::getenv(setting_names[i]);
    const std::string_view now = value ? value : "";
    if (setting[i] != now) {
      setting[i] = now;
      same = false;
    }
  }
  return same;
}

/// A bad character of 8-bit input is one byte. (One of UTF-8 input spans what
/// utf8::sequence_length says: a whole well formed sequence the code page lacks, or the
/// one stray byte.)
std::size_t one_byte(std::string_view) { return 1; }

const iconv_t no_descriptor = reinterpret_cast<iconv_t>(-1);

/// One direction of conversion, kept open between uses.
class Converter {
 public:
  Converter() = default;
  ~Converter() { close(); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  /// Makes this the conversion from one charset to another, opening a descriptor only
  /// when the pair differs from the one held. False when iconv does not know the pair:
  /// UTF-8 then stands in for the unknown charset (the pair is not tried again until it
  /// changes).
  bool open(const std::string& to, const std::string& from) {
    if (to == to_ && from == from_ && (cd_ != no_descriptor || unknown_)) return cd_ != no_descriptor;
    close();
    to_ = to;
    from_ = from;
    cd_ = iconv_open(to.c_str(), from.c_str());
    unknown_ = cd_ == no_descriptor;
    return !unknown_;
  }

  /// Converts input; a character that cannot be converted becomes "?" and the
  /// conversion goes on after it. skip tells how many input bytes a bad character spans.
  std::string run(std::string_view input, std::size_t (*skip)(std::string_view)) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state for each text
    std::string out;
    // Room for the common case (8-bit text to UTF-8 at most doubles Latin letters); the
    // loop below grows it when a code page needs more.
    out.resize(input.size() * 2 + 16);
    std::size_t used = 0;
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    auto grow = [&] { out.resize(out.size() * 2); };
    while (in_left > 0) {
      char* dst = out.data() + used;
      std::size_t dst_left = out.size() - used;
      const std::size_t rc = iconv(cd_, &in, &in_left, &dst, &dst_left);
      used = static_cast<std::size_t>(dst - out.data());
      if (rc != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) {
        grow();
        continue;
      }
      // EILSEQ: not representable or invalid; EINVAL: incomplete at the end.
      const std::size_t n = errno == EINVAL ? in_left : skip(std::string_view(in, in_left));
      if (used == out.size()) grow();
      out[used++] = '?';
      in += n;
      in_left -= n;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
    }
    // Flush any pending shift sequence of a stateful code page.
    for (;;) {
      char* dst = out.data() + used;
      std::size_t dst_left = out.size() - used;
      const std::size_t rc = iconv(cd_, nullptr, nullptr, &dst, &dst_left);
      used = static_cast<std::size_t>(dst - out.data());
      if (rc != static_cast<std::size_t>(-1) || errno != E2BIG) break;
      grow();
    }
    out.resize(used);
    return out;
  }

 private:
  void close() {
    if (cd_ != no_descriptor) iconv_close(cd_);
    cd_ = no_descriptor;
  }

  iconv_t cd_ = no_descriptor;
  std::string to_;
  std::string from_;
  bool unknown_ = false;
};

/// What one thread keeps: the charset, the environment it was worked out from, and the
/// two conversions.
struct ThreadState {
  bool known = false;
  Setting setting;
  std::string charset;
  bool charset_is_utf8 = false;
  Converter to_ansi;
  Converter from_ansi;

  const std::string& current_charset() {
    if (!setting_unchanged(setting) || !known) {
      const std::string& forced = setting[0];
      charset = forced.empty() ? locale_charset() : forced;
      charset_is_utf8 = same_ignoring_case(charset, "UTF-8") || same_ignoring_case(charset, "UTF8");
      known = true;
    }
    return charset;
  }
};

ThreadState& thread_state() {
  thread_local ThreadState state;
  return state;
}

std::string convert(std::string_view input, bool input_is_utf8) {
  if (input.empty()) return {};
  ThreadState& state = thread_state();
  const std::string& charset = state.current_charset();
  // From UTF-8 to UTF-8 (the code page's own, or UTF-8 standing in for one iconv does not
  // know) nothing is converted: only the stray bytes are replaced, as everywhere else.
  // iconv is not asked, since its UTF-8 takes five- and six-byte forms and values above
  // U+10FFFF as characters.
  if (state.charset_is_utf8) return utf8::replace_stray_bytes(input);
  Converter& converter = input_is_utf8 ? state.to_ansi : state.from_ansi;
  const bool opened = input_is_utf8 ? converter.open(charset, "UTF-8") : converter.open("UTF-8", charset);
  if (!opened) return utf8::replace_stray_bytes(input);
  return converter.run(input, input_is_utf8 ? utf8::sequence_length : one_byte);
}

}  // namespace

std::string ansi_codepage() { return thread_state().current_charset(); }

std::string to_ansi(std::string_view utf8) { return convert(utf8, true); }

std::string from_ansi(std::string_view ansi) { return convert(ansi, false); }

}  // namespace platform
