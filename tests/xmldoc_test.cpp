// The report document: one default namespace declared on the root, the declaration,
// text escaping, replacing the document element, and saving without harming the
// file that was there before.
#include "xml/xmldoc.hpp"

#include <filesystem>

#include <gtest/gtest.h>

#include "child_processes.hpp"
#include "file_size_limit.hpp"
#include "platform/paths.hpp"
#include "test_support.hpp"
#include "xml/xmldoc.hpp"

namespace fs = std::filesystem;

namespace {

platform::XmlElement small_report(platform::XmlDocument& doc) {
  doc.activate();
  platform::XmlElement root = doc.create_root("http://www.zona12.asl.it/asl/tao", "tao");
  platform::XmlElement medico = root.append_child("medico");
  medico.append_text_child("codiceFiscale", "R&S <1> \"è\"");
  medico.append_text_child("vuoto", "");
  medico.append_text_child("controllo", std::string("a\x01") + "b\xff");
  return root;
}

TEST(XmlDocument, NamespaceIsDeclaredOnceAsTheDefaultOnTheRoot) {
  platform::XmlDocument doc;
  platform::XmlElement root = small_report(doc);
  doc.set_document_element(root);
  doc.set_declaration("1.0", "UTF-8", true);
  EXPECT_EQ(doc.to_string(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
            "<tao xmlns=\"http://www.zona12.asl.it/asl/tao\">\n"
            "  <medico>\n"
            "    <codiceFiscale>R&amp;S &lt;1&gt; \"è\"</codiceFiscale>\n"
            "    <vuoto/>\n"
            "    <controllo>a?b?</controllo>\n"
            "  </medico>\n"
            "</tao>\n");
}

/// A text written into an element, and the element's text in the saved document.
struct SanitizeCase {
  const char* name;
  friend void PrintTo(const SanitizeCase& c, std::ostream* os) { *os << c.name; }
  std::string text;
  std::string written;
};

class XmlTextSanitizer : public ::testing::TestWithParam<SanitizeCase> {};

TEST_P(XmlTextSanitizer, CharactersXmlCannotHoldBecomeOneQuestionMarkEach) {
  const SanitizeCase& c = GetParam();
  platform::XmlDocument doc;
  doc.activate();
  platform::XmlElement root = doc.create_root("", "r");
  root.append_text_child("t", c.text);
  doc.set_document_element(root);
  const std::string saved = doc.to_string();
  const std::string open = "<t>", close = "</t>";
  const std::size_t from = saved.find(open), to = saved.find(close);
  ASSERT_NE(from, std::string::npos) << saved;
  ASSERT_NE(to, std::string::npos) << saved;
  EXPECT_EQ(saved.substr(from + open.size(), to - from - open.size()), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlTextSanitizer,
    ::testing::Values(SanitizeCase{"control_characters",
                                   std::string("a\x01"
                                               "b\x1F\x00"
                                               "c",
                                               6),
                                   "a?b??c"},
                      SanitizeCase{"tab_lf_and_del_kept", "a\tb\nc\x7F", "a\tb\nc\x7F"},
                      SanitizeCase{"legal_characters_kept",
                                   "\xC3\xA8 \xE2\x82\xAC \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBD \xF4\x8F\xBF\xBF",
                                   "\xC3\xA8 \xE2\x82\xAC \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBD \xF4\x8F\xBF\xBF"},
                      SanitizeCase{"fffe_and_ffff",
                                   "a\xEF\xBF\xBE\xEF\xBF\xBF"
                                   "b",
                                   "a??b"},
                      SanitizeCase{"surrogates",
                                   "a\xED\xA0\x80\xED\xBF\xBF"
                                   "b",
                                   "a??????b"},
                      SanitizeCase{"overlong_forms", "\xC0\xAF\xC1\xBF\xE0\x80\xAF\xF0\x80\x80\xAF|", "???????????|"},
                      SanitizeCase{"above_10ffff", "\xF4\x90\x80\x80\xF7\xBF\xBF\xBF\xF8\x88\x80\x80\x80|",
                                   "?????????????|"},
                      SanitizeCase{"stray_bytes",
                                   "\x80"
                                   "a\xFF\xFE\xE2\x82x\xC3",
                                   "?a????x?"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(XmlDocument, RootStaysDetachedUntilSetAndReplacesTheEarlierOne) {
  platform::XmlDocument doc;
  EXPECT_FALSE(doc.active());
  platform::XmlElement first = small_report(doc);
  EXPECT_TRUE(doc.active());
  EXPECT_FALSE(doc.document_element().valid());
  doc.set_document_element(first);
  EXPECT_EQ(doc.document_element().name(), "tao");

  platform::XmlElement second = doc.create_root("urn:x", "diabete");
  second.append_child("medico");
  EXPECT_EQ(doc.document_element().name(), "tao");  // not attached yet
  doc.set_document_element(second);
  EXPECT_EQ(doc.document_element().name(), "diabete");
  EXPECT_EQ(doc.to_string().find("tao"), std::string::npos);

  doc.create_root("urn:y", "abbandonato");  // never attached: freed with the document
  EXPECT_EQ(doc.document_element().name(), "diabete");
}

TEST(XmlDocument, DeactivateFreesTheTreeAndTheDocumentServesAgain) {
  platform::XmlDocument doc;
  doc.set_document_element(small_report(doc));
  doc.create_root("urn:y", "abbandonato");
  doc.deactivate();
  EXPECT_FALSE(doc.active());
  EXPECT_FALSE(doc.document_element().valid());
  EXPECT_EQ(doc.to_string(), "");
  doc.deactivate();  // twice is harmless
  doc.set_document_element(doc.create_root("urn:x", "diabete"));
  EXPECT_EQ(doc.document_element().name(), "diabete");
  EXPECT_EQ(doc.to_string().find("tao"), std::string::npos);
}

TEST(XmlDocument, SaveReplacesTheFileAndLeavesNothingBeside) {
  test_support::TempDir dir;
  const fs::path target = dir.path() / "File TAO ZONA12.xml";
  test_support::write_file(target, "vecchio");
  platform::XmlDocument doc;
  doc.set_document_element(small_report(doc));
  doc.set_declaration("1.0", "UTF-8", true);
  doc.save(target.string());
  EXPECT_EQ(test_support::read_file(target), doc.to_string());
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(XmlDocument, AFailedSaveNamesThePathAndKeepsTheEarlierFile) {
  test_support::TempDir dir;
  platform::XmlDocument doc;
  doc.set_document_element(small_report(doc));

  const std::string missing_dir = (dir.path() / "manca" / "r.xml").string();
  try {
    doc.save(missing_dir);
    ADD_FAILURE() << "saved into a missing directory";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(missing_dir), std::string::npos) << e.what();
  }

  // A target that is a directory cannot be replaced: it stays as it was.
  const fs::path target = dir.path() / "r.xml";
  fs::create_directory(target);
  test_support::write_file(target / "dentro", "x");
  EXPECT_THROW(doc.save(target.string()), std::runtime_error);
  EXPECT_EQ(test_support::read_file(target / "dentro"), "x");
}

TEST(XmlDocument, AReadOnlyDirectoryKeepsTheEarlierFile) {
  if (test_support::windows) GTEST_SKIP() << "a read-only directory still takes new files on Windows";
  if (test_support::running_as_root()) GTEST_SKIP() << "root writes into read-only directories";
  test_support::TempDir dir;
  platform::XmlDocument doc;
  doc.set_document_element(small_report(doc));
  const fs::path locked = dir.path() / "chiusa";
  fs::create_directory(locked);
  test_support::write_file(locked / "r.xml", "rapporto precedente");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_THROW(doc.save((locked / "r.xml").string()), std::runtime_error);
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(test_support::read_file(locked / "r.xml"), "rapporto precedente");
}

TEST(XmlDocument, SavesUnderANameWithLettersOutsideTheAnsiCodePage) {
  // "perché" fits the Western code page, "ř" and "日" fit none of the 8-bit ones.
  test_support::TempDir dir;
  const std::string name = "perch\xC3\xA9 \xC5\x99\xE6\x97\xA5.xml";
  const std::string path = platform::path_to_utf8(dir.path()) + "/" + name;
  platform::XmlDocument doc;
  doc.set_document_element(small_report(doc));
  doc.save(path);
  const fs::path saved = dir.path() / platform::path_from_utf8(name);
  ASSERT_TRUE(fs::is_regular_file(saved));
  EXPECT_EQ(test_support::read_file(saved), doc.to_string());
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

/// A report-shaped document built in order; finished(e) is called on each element the
/// case hands over as soon as it is complete.
struct StreamCase {
  const char* name;
  friend void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }
  int patients;
  bool patients_finished;    ///< each assistito, once complete
  bool monitoring_finished;  ///< each element under monitoraggio, once complete
  bool header_finished;      ///< dataOraProduzione, a child of the document element
};

platform::XmlElement build_streamed(platform::XmlDocument& doc, const StreamCase& c) {
  doc.activate();
  platform::XmlElement root = doc.create_root("http://www.zona12.asl.it/asl/diabete", "diabete");
  platform::XmlElement header = root.append_text_child("dataOraProduzione", "20261210120000");
  if (c.header_finished) doc.write_finished(header);
  platform::XmlElement medico = root.append_child("medico");
  medico.append_text_child("codiceFiscale", "R&S <1> \"è\"");
  for (int i = 0; i < c.patients; ++i) {
    platform::XmlElement patient = medico.append_child("assistito");
    patient.append_text_child("cognome", i == 0 ? "D'Alò" : "Rossi " + std::to_string(i));
    patient.append_text_child("vuoto", "");
    platform::XmlElement monitoring = patient.append_child("monitoraggio");
    for (int j = 0; j < i; ++j) {
      platform::XmlElement check = monitoring.append_child("controlloClinico");
      check.append_text_child("data", "2024010" + std::to_string(j));
      if (c.monitoring_finished) doc.write_finished(check);
    }
    if (c.patients_finished) doc.write_finished(patient);
  }
  medico.append_text_child("chiusura", "a\x01b");
  doc.set_document_element(root);
  return root;
}

class XmlStreamedSave : public ::testing::TestWithParam<StreamCase> {};

TEST_P(XmlStreamedSave, WritesWhatSavingTheWholeDocumentWrites) {
  const StreamCase& c = GetParam();
  platform::XmlDocument whole;
  build_streamed(whole, c);
  whole.set_declaration("1.0", "UTF-8", true);

  test_support::TempDir dir;
  const fs::path target = dir.path() / "r.xml";
  test_support::write_file(target, "vecchio");
  platform::XmlDocument streamed;
  streamed.set_declaration("1.0", "UTF-8", true);
  streamed.begin_save(target.string());
  build_streamed(streamed, c);
  EXPECT_EQ(test_support::read_file(target), "vecchio") << "replaced only once complete";
  streamed.end_save();
  EXPECT_EQ(test_support::read_file(target), whole.to_string());
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
  if (c.patients_finished && c.patients > 0) {
    EXPECT_EQ(streamed.to_string().find("<assistito"), std::string::npos) << "written parts are freed";
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, XmlStreamedSave,
                         ::testing::Values(StreamCase{"nothing_handed_over", 3, false, false, false},
                                           StreamCase{"no_patient", 0, true, false, false},
                                           StreamCase{"each_patient", 3, true, false, false},
                                           StreamCase{"deeper_parts_then_their_patient", 4, true, true, false},
                                           StreamCase{"deeper_parts_only", 4, false, true, false},
                                           StreamCase{"a_child_of_the_root_first", 2, true, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(XmlStreamedSave, AnUnfinishedSaveLeavesTheEarlierFileAndNothingBeside) {
  test_support::TempDir dir;
  const fs::path target = dir.path() / "r.xml";
  test_support::write_file(target, "vecchio");
  const auto only_the_earlier_file = [&] {
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    return entries == 1 && test_support::read_file(target) == "vecchio";
  };
  const StreamCase patients{"", 2, true, false, false};

  platform::XmlDocument doc;
  doc.begin_save(target.string());
  build_streamed(doc, patients);
  doc.abandon_save();
  EXPECT_TRUE(only_the_earlier_file());
  EXPECT_THROW(doc.end_save(), std::runtime_error) << "no save is begun any more";

  doc.begin_save(target.string());
  build_streamed(doc, patients);
  doc.deactivate();
  EXPECT_TRUE(only_the_earlier_file());

  // Another document element than the one being written: the file would not be it.
  doc.begin_save(target.string());
  build_streamed(doc, patients);
  doc.set_document_element(doc.create_root("urn:x", "altro"));
  try {
    doc.end_save();
    ADD_FAILURE() << "saved a document that changed while it was written";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(target.string()), std::string::npos) << e.what();
  }
  EXPECT_TRUE(only_the_earlier_file());

  const std::string missing_dir = (dir.path() / "manca" / "r.xml").string();
  try {
    doc.begin_save(missing_dir);
    ADD_FAILURE() << "began a save into a missing directory";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(missing_dir), std::string::npos) << e.what();
  }
}

// A file that refuses bytes part-way (a full disk; here the process's file size limit):
// the save fails with the path and the system's reason, and libxml2 prints nothing of
// its own.
TEST(XmlStreamedSave, AWriteTheFileRefusesIsToldOnceByTheProgram) {
#ifdef _WIN32
  GTEST_SKIP() << "the file size limit is POSIX's";
#else
  test_support::TempDir dir;
  const fs::path target = dir.path() / "r.xml";
  platform::XmlDocument doc;
  doc.begin_save(target.string());
  std::string failure;
  std::string printed;
  {
    const test_support::FileSizeLimit limit(16 * 1024);
    testing::internal::CaptureStderr();
    try {
      build_streamed(doc, StreamCase{"", 200, true, true, true});
      doc.end_save();
    } catch (const platform::Failure& e) {
      failure = e.what();
    }
    printed = testing::internal::GetCapturedStderr();
  }
  EXPECT_NE(failure.find(target.string()), std::string::npos) << failure;
  EXPECT_EQ(printed, "");
  EXPECT_FALSE(fs::exists(target));
#endif
}

}  // namespace
