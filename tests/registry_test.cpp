#include "platform/registry.hpp"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/login.hpp"
#include "child_processes.hpp"
#include "records/px_tools.hpp"
#include "test_support.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
using test_support::ScopedEnv;
using test_support::TempDir;

const std::string fixture =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; a comment line\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PRAXILO.EXE]\r\n"
    "@=\"C:\\\\Prog\\\\Praxilo\\\\Praxilo.exe\"\r\n"
    "\"Path\"=\"C:\\\\Prog\\\\Praxilo;C:\\\\Prog\\\\Praxilo\\\\Bin;\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix]\r\n"
    "\"debug\"=\"yes\"\r\n"
    "\"quoted\"=\"say \\\"ciao\\\" to C:\\\\\"\r\n"
    "\"count\"=dword:0000002a\r\n"
    "\"blob\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\"after\"=\"still read\"\r\n"
    "\"expand\"=hex(2):25,00,50,00,25,00,00,00\r\n"
    "\"multi\"=hex(7):41,00,00,00,00,00\r\n"
    "\"empty\"=\"\"\r\n"
    "\"accent\"=\"Nicol\xC3\xB2\"\r\n"
    "\"gone\"=\"x\"\r\n"
    "\"gone\"=-\r\n"
    "\"twice\"=\"first\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix\\px_gate]\r\n"
    "\"log\"=\"yes\"\r\n"
    "\r\n"
    "[hkey_local_machine\\software\\CORVANTA-FERRIX]\r\n"
    "\"twice\"=\"second\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Removed\\Child]\r\n"
    "\"v\"=\"x\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RemovedToo]\r\n"
    "\"v\"=\"kept\"\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Removed]\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Praxilo.Server\\LocalServer32]\r\n"
    "@=\"/opt/praxilo/praxilo-server --db x\"\r\n"
    // Strings with a control character inside: a reader that stopped at the NUL would see
    // "C:\A" where the rest of the program sees more.
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Control]\r\n"
    "\"expandnul\"=hex(2):43,00,3a,00,5c,00,41,00,00,00,42,00,3b,00,00,00\r\n"
    "\"stringnul\"=hex(1):43,00,3a,00,5c,00,41,00,00,00,42,00,00,00\r\n"
    "\"expandcr\"=hex(2):41,00,0d,00,42,00,00,00\r\n"
    "\"expandends\"=hex(2):41,00,3b,00,00,00,00,00,00,00\r\n"
    "\"tab\"=\"C:\\\\A\tB\"\r\n"
    "\"del\"=\"A\x7F"
    "B\"\r\n"
    "\"nel\"=\"A\xC2\x85"
    "B\"\r\n"
    "\"nbsp\"=\"A\xC2\xA0"
    "B\"\r\n" +
    std::string("\"rawnul\"=\"C:\\\\A") + '\0' + "B;\"\r\n" + "\"rawnulend\"=\"C:\\\\A;" + '\0' + "\"\r\n";

struct ReadCase {
  const char* name;
  RegistryRoot root;
  std::string key;
  std::string value;
  RegistryStatus status;
  std::string text;
};

/// The fixture as the registry editor writes it: UTF-16LE with a byte-order mark.
std::string utf16le(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = c;
    std::size_t n = 1;
    if (c >= 0xC0 && c < 0xE0) {  // the fixture holds no longer sequences
      cp = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
      n = 2;
    }
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
    i += n;
  }
  return out;
}

class RegistryRead : public testing::TestWithParam<ReadCase> {};

TEST_P(RegistryRead, InEveryFileEncoding) {
  const auto& c = GetParam();
  const std::vector<std::pair<const char*, std::string>> files = {
      {"UTF-8", fixture}, {"UTF-8 with BOM", "\xEF\xBB\xBF" + fixture}, {"UTF-16LE", utf16le(fixture)}};
  TempDir dir;
  ScopedEnv reg("PIVZONA12_REGISTRY", (dir.path() / "r.reg").string());
  for (const auto& [encoding, content] : files) {
    SCOPED_TRACE(encoding);
    test_support::write_file(dir.path() / "r.reg", content);
    const auto got = platform::registry_read(c.root, c.key, c.value);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.text, c.text);
  }
}

const std::string maker = "SOFTWARE\\Corvanta-Ferrix\\";
const std::string control = "SOFTWARE\\Control";
constexpr auto hklm = RegistryRoot::local_machine;

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryRead,
    testing::Values(
        ReadCase{"PathWithEscapedBackslashes", hklm,
                 "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PRAXILO.EXE", "Path", RegistryStatus::ok,
                 "C:\\Prog\\Praxilo;C:\\Prog\\Praxilo\\Bin;"},
        ReadCase{"DefaultValueByEmptyName", hklm,
                 "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PRAXILO.EXE", "", RegistryStatus::ok,
                 "C:\\Prog\\Praxilo\\Praxilo.exe"},
        ReadCase{"DefaultValueByAt", hklm, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PRAXILO.EXE", "@",
                 RegistryStatus::ok, "C:\\Prog\\Praxilo\\Praxilo.exe"},
        ReadCase{"KeyInAnotherCase", hklm, "software\\microsoft\\windows\\currentversion\\app paths\\praxilo.exe",
                 "PATH", RegistryStatus::ok, "C:\\Prog\\Praxilo;C:\\Prog\\Praxilo\\Bin;"},
        ReadCase{"TrailingBackslashOnKey", hklm, maker, "debug", RegistryStatus::ok, "yes"},
        ReadCase{"LeadingBackslashOnKey", hklm, "\\" + maker, "debug", RegistryStatus::ok, "yes"},
        ReadCase{"EscapedQuotes", hklm, maker, "quoted", RegistryStatus::ok, "say \"ciao\" to C:\\"},
        ReadCase{"DwordIsNotAString", hklm, maker, "count", RegistryStatus::not_a_string, ""},
        ReadCase{"HexIsNotAString", hklm, maker, "blob", RegistryStatus::not_a_string, ""},
        ReadCase{"LineAfterContinuedHex", hklm, maker, "after", RegistryStatus::ok, "still read"},
        ReadCase{"ExpandStringIsAString", hklm, maker, "expand", RegistryStatus::ok, "%P%"},
        ReadCase{"MultiStringIsNotAString", hklm, maker, "multi", RegistryStatus::not_a_string, ""},
        ReadCase{"EmptyString", hklm, maker, "empty", RegistryStatus::ok, ""},
        ReadCase{"AccentedText", hklm, maker, "accent", RegistryStatus::ok, "Nicol\xC3\xB2"},
        ReadCase{"RemovedValue", hklm, maker, "gone", RegistryStatus::value_missing, ""},
        ReadCase{"LaterSectionOverrides", hklm, maker, "twice", RegistryStatus::ok, "second"},
        ReadCase{"MissingValue", hklm, maker, "debuglog", RegistryStatus::value_missing, ""},
        ReadCase{"SubKey", hklm, maker + "px_gate\\", "log", RegistryStatus::ok, "yes"},
        ReadCase{"ParentOfListedKeyExists", hklm, "SOFTWARE\\Microsoft", "x", RegistryStatus::value_missing, ""},
        ReadCase{"MissingKey", hklm, "SOFTWARE\\Nobody", "debug", RegistryStatus::key_missing, ""},
        ReadCase{"PrefixIsNotAKey", hklm, "SOFTWARE\\Corvanta", "debug", RegistryStatus::key_missing, ""},
        ReadCase{"RemovedKeyAndChildren", hklm, "SOFTWARE\\Removed\\Child", "v", RegistryStatus::key_missing, ""},
        ReadCase{"RemovedKeyLeavesKeyWithLongerName", hklm, "SOFTWARE\\RemovedToo", "v", RegistryStatus::ok, "kept"},
        ReadCase{"OtherRoot", RegistryRoot::current_user, maker, "debug", RegistryStatus::key_missing, ""},
        ReadCase{"ClassesRoot", RegistryRoot::classes_root, "Praxilo.Server\\LocalServer32", "", RegistryStatus::ok,
                 "/opt/praxilo/praxilo-server --db x"},
        ReadCase{"ExpandStringWithNulInside", hklm, control, "expandnul", RegistryStatus::bad_text, ""},
        ReadCase{"StringWithNulInside", hklm, control, "stringnul", RegistryStatus::bad_text, ""},
        ReadCase{"ExpandStringWithCarriageReturn", hklm, control, "expandcr", RegistryStatus::bad_text, ""},
        ReadCase{"ExpandStringEndingInSeveralNuls", hklm, control, "expandends", RegistryStatus::ok, "A;"},
        ReadCase{"QuotedWithTab", hklm, control, "tab", RegistryStatus::bad_text, ""},
        ReadCase{"QuotedWithDelete", hklm, control, "del", RegistryStatus::bad_text, ""},
        ReadCase{"QuotedWithC1NextLine", hklm, control, "nel", RegistryStatus::bad_text, ""},
        ReadCase{"QuotedWithNoBreakSpaceIsText", hklm, control, "nbsp", RegistryStatus::ok,
                 "A\xC2\xA0"
                 "B"},
        ReadCase{"QuotedWithRawNulInside", hklm, control, "rawnul", RegistryStatus::bad_text, ""},
        ReadCase{"QuotedWithRawNulAtTheEnd", hklm, control, "rawnulend", RegistryStatus::ok, "C:\\A;"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Registry, MissingFileOrVariableMeansEveryKeyMissing) {
  if (test_support::windows) GTEST_SKIP() << "without the file Windows reads its own registry";
  TempDir dir;
  const std::vector<std::optional<std::string>> settings = {std::nullopt, "", (dir.path() / "none.reg").string()};
  for (const auto& setting : settings) {
    SCOPED_TRACE(setting.value_or("<unset>"));
    ScopedEnv reg("PIVZONA12_REGISTRY", setting);
    const auto got = platform::registry_read(RegistryRoot::local_machine, "SOFTWARE", "x");
    EXPECT_EQ(got.status, RegistryStatus::key_missing);
  }
}

TEST(Registry, EveryReadSeesTheFileAsItIsNow) {
  TempDir dir;
  const auto file = dir.path() / "r.reg";
  ScopedEnv reg("PIVZONA12_REGISTRY", file.string());
  const std::string head = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\M]\n";
  test_support::write_file(file, head + "\"debug\"=\"no\"\n");
  EXPECT_EQ(platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\M", "debug").text, "no");
  test_support::write_file(file, head + "\"debug\"=\"yes\"\n");
  EXPECT_EQ(platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\M", "debug").text, "yes");
}

// Anything but a regular file of at most 64 MiB holds no key, and reading it never
// waits: a FIFO without a writer, an endless device, a directory, a file too large.
struct UnreadableCase {
  const char* name;
  std::function<std::string(const std::filesystem::path& dir)> make;  // the path to name
  bool posix_only = false;                                            ///< a FIFO or a device file: POSIX file kinds
};

class RegistryUnreadable : public testing::TestWithParam<UnreadableCase> {};

const std::string small_registry =
    "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\M]\n\"debug\"=\"yes\"\n";

TEST_P(RegistryUnreadable, HoldsNoKey) {
  if (test_support::windows && GetParam().posix_only) GTEST_SKIP() << "FIFOs and /dev/zero exist on POSIX only";
  TempDir dir;
  ScopedEnv reg("PIVZONA12_REGISTRY", GetParam().make(dir.path()));
  const auto got = platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\M", "debug");
  EXPECT_EQ(got.status, RegistryStatus::key_missing);
  EXPECT_EQ(got.text, "");
}

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryUnreadable,
    testing::Values(UnreadableCase{"Fifo",
                                   [](const std::filesystem::path& dir) {
                                     const auto fifo = dir / "fifo.reg";
                                     EXPECT_TRUE(test_support::make_fifo(fifo));
                                     return fifo.string();
                                   },
                                   true},
                    UnreadableCase{"DevZero", [](const std::filesystem::path&) { return std::string("/dev/zero"); },
                                   true},
                    UnreadableCase{"Directory",
                                   [](const std::filesystem::path& dir) {
                                     std::filesystem::create_directory(dir / "dir.reg");
                                     return (dir / "dir.reg").string();
                                   }},
                    UnreadableCase{"OneByteOver64MiB",
                                   [](const std::filesystem::path& dir) {
                                     // Readable values first, then a sparse tail up to the limit + 1.
                                     const auto file = dir / "big.reg";
                                     test_support::write_file(file, small_registry);
                                     std::filesystem::resize_file(file, 64u * 1024u * 1024u + 1);
                                     return file.string();
                                   }},
                    UnreadableCase{"SymlinkToFifo",
                                   [](const std::filesystem::path& dir) {
                                     EXPECT_TRUE(test_support::make_fifo(dir / "fifo"));
                                     std::filesystem::create_symlink(dir / "fifo", dir / "link.reg");
                                     return (dir / "link.reg").string();
                                   },
                                   true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Registry, FileOfExactly64MiBIsRead) {
  TempDir dir;
  const auto file = dir.path() / "big.reg";
  test_support::write_file(file, small_registry);
  std::filesystem::resize_file(file, 64u * 1024u * 1024u);
  ScopedEnv reg("PIVZONA12_REGISTRY", file.string());
  EXPECT_EQ(platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\M", "debug").text, "yes");
}

TEST(Registry, SymlinkToAFileIsFollowed) {
  if (test_support::windows) GTEST_SKIP() << "symbolic links need a privilege on Windows and Wine has none";
  TempDir dir;
  test_support::write_file(dir.path() / "real.reg", small_registry);
  std::filesystem::create_symlink(dir.path() / "real.reg", dir.path() / "link.reg");
  ScopedEnv reg("PIVZONA12_REGISTRY", (dir.path() / "link.reg").string());
  EXPECT_EQ(platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\M", "debug").text, "yes");
}

TEST(Registry, ManyValuesEachFoundWithItsOwnText) {
  TempDir dir;
  std::string text = "Windows Registry Editor Version 5.00\n";
  for (int k = 0; k < 400; ++k) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K" + std::to_string(k) + "]\n";
    for (int v = 0; v < 100; ++v) text += "\"v" + std::to_string(v) + "\"=\"" + std::to_string(k * 100 + v) + "\"\n";
  }
  test_support::write_file(dir.path() / "r.reg", text);
  ScopedEnv reg("PIVZONA12_REGISTRY", (dir.path() / "r.reg").string());
  for (const auto& [k, v] : std::vector<std::pair<int, int>>{{0, 0}, {17, 42}, {399, 99}}) {
    const auto got = platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\K" + std::to_string(k),
                                             "v" + std::to_string(v));
    EXPECT_EQ(got.text, std::to_string(k * 100 + v));
  }
  EXPECT_EQ(platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\K400", "v0").status,
            RegistryStatus::key_missing);
}

#ifdef _WIN32

// ---- the system registry's two views ---------------------------------------------------

/// The maker's keys written by a records product of one architecture or the other: on
/// 64-bit Windows a 32-bit product's keys lie in the 32-bit programs' view.
enum class View { bits32, bits64 };

REGSAM sam_of(View view) { return view == View::bits32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

/// This test program's own view, and the other one.
constexpr View own_view = sizeof(void*) == 4 ? View::bits32 : View::bits64;
constexpr View other_view = own_view == View::bits32 ? View::bits64 : View::bits32;
const char* user_of(View view) { return view == View::bits32 ? "utente32" : "utente64"; }

/// Writes a text value under HKEY_LOCAL_MACHINE in one view.
void write_machine_value(View view, const wchar_t* key, const wchar_t* name, const wchar_t* value) {
  HKEY handle = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE | sam_of(view), nullptr, &handle, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                             static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  ::RegCloseKey(handle);
}

/// Removes the maker's folder from both views, before and after each case.
void remove_maker_keys() {
  for (const View view : {View::bits32, View::bits64}) {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvanta-Ferrix\\px_gate", sam_of(view), 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvanta-Ferrix", sam_of(view), 0);
  }
}

struct ViewCase {
  const char* name;
  std::vector<View> written;  ///< the views holding the product's keys
};

class RegistryViews : public testing::TestWithParam<ViewCase> {
 protected:
  void SetUp() override { remove_maker_keys(); }
  void TearDown() override { remove_maker_keys(); }
};

TEST_P(RegistryViews, TheProductsKeysAreFoundInEitherView) {
  ASSERT_EQ(std::getenv("PIVZONA12_REGISTRY"), nullptr);  // the system registry, not a file
  EXPECT_FALSE(px_tools::is_log());
  EXPECT_EQ(last_user_name(), "");
  for (const View view : GetParam().written) {
    // Each view names its own user, so that the one read tells which view was taken.
    const std::string user = user_of(view);
    write_machine_value(view, L"SOFTWARE\\Corvanta-Ferrix", L"ultimo_utente",
                        std::wstring(user.begin(), user.end()).c_str());
    write_machine_value(view, L"SOFTWARE\\Corvanta-Ferrix", L"debuglog", L"yes");
    write_machine_value(view, L"SOFTWARE\\Corvanta-Ferrix\\px_gate", L"log", L"yes");
  }
  EXPECT_TRUE(px_tools::is_log());
  EXPECT_TRUE(px_tools::is_debuglog());
  // With the keys in both views, the program's own view wins (the 32-bit one for the
  // 32-bit build, the 64-bit one for the 64-bit build).
  const auto& written = GetParam().written;
  const bool in_own = std::find(written.begin(), written.end(), own_view) != written.end();
  EXPECT_EQ(last_user_name(), user_of(in_own ? own_view : other_view));
  // Nothing is kept between reads: a switch turned off in its view is off at once.
  for (const View view : GetParam().written)
    write_machine_value(view, L"SOFTWARE\\Corvanta-Ferrix\\px_gate", L"log", L"no");
  EXPECT_FALSE(px_tools::is_log());
}

INSTANTIATE_TEST_SUITE_P(Machine, RegistryViews,
                         testing::Values(ViewCase{"Only32BitView", {View::bits32}},
                                         ViewCase{"Only64BitView", {View::bits64}},
                                         ViewCase{"BothViews", {View::bits32, View::bits64}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryViewsOf, AValueMissingInTheOwnViewIsTakenFromTheOther) {
  remove_maker_keys();
  // The key in both views, the value only in the one that is not the program's own.
  write_machine_value(own_view, L"SOFTWARE\\Corvanta-Ferrix", L"altro", L"x");
  const std::string user = user_of(other_view);
  write_machine_value(other_view, L"SOFTWARE\\Corvanta-Ferrix", L"ultimo_utente",
                      std::wstring(user.begin(), user.end()).c_str());
  EXPECT_EQ(last_user_name(), user);
  remove_maker_keys();
}

// A string value as the registry holds it, its bytes exactly as given: a NUL inside, no
// terminator, several. Every view reads it by one rule, as the ".reg" file reader does.
struct StoredCase {
  const char* name;
  DWORD type;
  std::wstring data;  ///< stored as is, no terminator added
  RegistryStatus status;
  std::string text;
};

class RegistryStoredText : public testing::TestWithParam<StoredCase> {
 protected:
  void SetUp() override { remove_maker_keys(); }
  void TearDown() override { remove_maker_keys(); }
};

void write_machine_data(View view, const wchar_t* name, DWORD type, const std::wstring& data) {
  HKEY handle = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvanta-Ferrix", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE | sam_of(view), nullptr, &handle, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(handle, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
  ::RegCloseKey(handle);
}

TEST_P(RegistryStoredText, EveryViewReadsItByOneRule) {
  const StoredCase& c = GetParam();
  for (const View view : {View::bits64, View::bits32}) {
    SCOPED_TRACE(view == View::bits64 ? "own view" : "other view");
    remove_maker_keys();
    write_machine_data(view, L"Path", c.type, c.data);
    const auto got = platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\Corvanta-Ferrix", "Path");
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.text, c.text);
  }
}

INSTANTIATE_TEST_SUITE_P(Machine, RegistryStoredText,
                         testing::Values(StoredCase{"StringWithNulInside", REG_SZ, std::wstring(L"C:\\A\0C:\\B;\0", 11),
                                                    RegistryStatus::bad_text, ""},
                                         StoredCase{"ExpandStringWithNulInside", REG_EXPAND_SZ,
                                                    std::wstring(L"C:\\A\0C:\\B;\0", 11), RegistryStatus::bad_text, ""},
                                         StoredCase{"StringWithTab", REG_SZ, std::wstring(L"C:\\A\t;\0", 7),
                                                    RegistryStatus::bad_text, ""},
                                         StoredCase{"StringWithoutTerminator", REG_SZ, std::wstring(L"C:\\A;", 5),
                                                    RegistryStatus::ok, "C:\\A;"},
                                         StoredCase{"StringWithSeveralTerminators", REG_EXPAND_SZ,
                                                    std::wstring(L"C:\\A;\0\0\0", 8), RegistryStatus::ok, "C:\\A;"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryStoredTextOf, ABadTextInTheOwnViewIsNotTakenFromTheOther) {
  remove_maker_keys();
  write_machine_data(View::bits64, L"ultimo_utente", REG_SZ, std::wstring(L"utente\0altro\0", 13));
  write_machine_value(View::bits32, L"SOFTWARE\\Corvanta-Ferrix", L"ultimo_utente", L"utente32");
  const auto got = platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\Corvanta-Ferrix", "ultimo_utente");
  EXPECT_EQ(got.status, RegistryStatus::bad_text);
  EXPECT_EQ(last_user_name(), "");
  remove_maker_keys();
}

#endif

}  // namespace
