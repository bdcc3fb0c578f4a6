// The report document: one default namespace declared on the root, the declaration,
// text escaping, replacing the document element, and saving without harming the
// file that was there before.
#include <gtest/gtest.h>

#include <filesystem>

#include "child_processes.hpp"
#include "platform/paths.hpp"
#include "platform/xmldoc.hpp"
#include "test_support.hpp"

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

}  // namespace
