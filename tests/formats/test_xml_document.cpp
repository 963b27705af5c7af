#include "formats/xml_document.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/test_files.h"

namespace corvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string ThrownMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  ADD_FAILURE() << "nothing was thrown";
  return {};
}

TEST(XmlDocumentTest, LoadReportsMissingFileAndParserComplaint) {
  TempDir dir;
  const std::string missing = dir.File("absent.xml");
  std::string message = ThrownMessage([&] { XmlDocument::Load(missing); });
  EXPECT_NE(message.find(missing), std::string::npos) << message;
  EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;

  const std::string broken = dir.File("broken.xml");
  WriteFile(broken, "<users>\n  <user>\n    <username>a</user>\n</users>\n");
  message = ThrownMessage([&] { XmlDocument::Load(broken); });
  EXPECT_NE(message.find("Start-end tags mismatch"), std::string::npos) << message;
  EXPECT_NE(message.find("line 3"), std::string::npos) << message;
  EXPECT_NE(message.find("byte offset"), std::string::npos) << message;

  const std::string empty = dir.File("empty.xml");
  WriteFile(empty, "");
  EXPECT_THROW(XmlDocument::Load(empty), std::runtime_error);
  EXPECT_THROW(XmlDocument::Load(dir.Path()), std::runtime_error);
}

TEST(XmlDocumentTest, ChildrenAreElementsInDocumentOrder) {
  TempDir dir;
  const std::string path = dir.File("doc.xml");
  WriteFile(path,
            "<?xml version=\"1.0\"?>\n<!-- header -->\n<Root>stray text<b/><!-- note -->"
            "<?pi data?><a/>\n  <b/></Root>");
  XmlDocument document = XmlDocument::Load(path);
  XmlElement root = document.DocumentElement();
  EXPECT_EQ(root.Name(), "Root");
  ASSERT_EQ(root.ChildCount(), 3u);
  EXPECT_EQ(root.Child(0).Name(), "b");
  EXPECT_EQ(root.Child(1).Name(), "a");
  EXPECT_EQ(root.Child(2).Name(), "b");
  EXPECT_THROW(root.Child(3), std::out_of_range);
  std::vector<XmlElement> children = root.Children();
  ASSERT_EQ(children.size(), 3u);
  EXPECT_EQ(children[1].Name(), "a");
}

TEST(XmlDocumentTest, ChildValueDistinguishesAbsentTextAndErrors) {
  TempDir dir;
  const std::string path = dir.File("values.xml");
  WriteFile(path,
            "<r><a>first</a><b/><c></c><d><e>1</e></d><f>  </f><g><!-- c -->t</g>"
            "<h><![CDATA[<raw> & more]]></h><i>&lt;&amp;&gt;</i><A>upper</A><a>second</a>"
            "<?j not an element?></r>");
  XmlElement root = XmlDocument::Load(path).DocumentElement();

  struct Case {
    const char* name;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"a", "first"}, {"A", "upper"},        {"b", std::nullopt}, {"c", std::nullopt}, {"f", "  "},
      {"g", "t"},     {"h", "<raw> & more"}, {"i", "<&>"},        {"missing", {}},     {"j", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(root.ChildValue(c.name), c.value) << c.name;
  std::string message = ThrownMessage([&] { root.ChildValue("d"); });
  EXPECT_NE(message.find("d"), std::string::npos);
  EXPECT_THROW(root.Text(), std::runtime_error);
}

TEST(XmlDocumentTest, TextsSurviveSaveAndLoadByteForByte) {
  const std::string texts[] = {
      "plain",        "&<>\"' ]]> <!--", " leading and trailing ",
      "two\nlines",   "tab\there",       "J\xc3\xbcrgen \xe6\x97\xa5\xe6\x9c\xac",
      "C:\\Ftp\\Bob", "62#%8152@7&&",
  };
  TempDir dir;
  const std::string path = dir.File("round.xml");
  XmlDocument document = XmlDocument::Create();
  XmlElement root = document.AddDocumentElement("users");
  for (const std::string& text : texts) root.AddChild("v").SetText(text);
  document.Save(path);

  XmlElement loaded = XmlDocument::Load(path).DocumentElement();
  EXPECT_EQ(loaded.Name(), "users");
  ASSERT_EQ(loaded.ChildCount(), std::size(texts));
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    EXPECT_EQ(loaded.Child(i).Text(), texts[i]) << i;
  }
}

TEST(XmlDocumentTest, EditingOperations) {
  TempDir dir;
  const std::string path = dir.File("edit.xml");
  WriteFile(path, "<r><x>1</x><!-- keep --><x>2</x><y><z/></y></r>");
  XmlDocument document = XmlDocument::Load(path);
  XmlElement root = document.DocumentElement();

  root.SetChildValue("x", "one");      // first of two
  root.SetChildValue("new", "added");  // appended at the end
  root.SetChildValue("y", "flat");     // replaces the element content
  root.AddChild("empty");
  root.Child(1).SetText("");  // an element holding "" reads as absent
  EXPECT_EQ(root.ChildCount(), 5u);
  EXPECT_EQ(root.Child(3).Name(), "new");
  EXPECT_EQ(root.Child(4).Name(), "empty");
  EXPECT_EQ(root.ChildValue("empty"), std::nullopt);

  root.DeleteChild(0);  // the comment before the second x is not a position
  EXPECT_THROW(root.DeleteChild(4), std::out_of_range);
  document.Save(path);

  XmlElement loaded = XmlDocument::Load(path).DocumentElement();
  ASSERT_EQ(loaded.ChildCount(), 4u);
  EXPECT_EQ(loaded.Child(0).Name(), "x");
  EXPECT_EQ(loaded.Child(0).Text(), std::nullopt);
  EXPECT_EQ(loaded.ChildValue("y"), "flat");
  EXPECT_EQ(loaded.ChildValue("new"), "added");
  EXPECT_NE(ReadFile(path).find("<!-- keep -->"), std::string::npos);
}

TEST(XmlDocumentTest, CreatedDocumentAcceptsOneDocumentElement) {
  XmlDocument document = XmlDocument::Create();
  EXPECT_THROW(document.DocumentElement(), std::runtime_error);
  XmlElement root = document.AddDocumentElement("global");
  EXPECT_EQ(document.DocumentElement().Name(), "global");
  EXPECT_EQ(root.ChildCount(), 0u);
  EXPECT_THROW(document.AddDocumentElement("other"), std::runtime_error);
}

TEST(XmlDocumentTest, AddingToAnElementHoldingOnlyBlanksDropsTheBlanks) {
  TempDir dir;
  const std::string path = dir.File("blank.xml");
  WriteFile(path, "<users>\n</users>\n");
  XmlDocument document = XmlDocument::Load(path);
  document.DocumentElement().AddChild("user").SetChildValue("username", "a");
  document.Save(path);
  EXPECT_NE(ReadFile(path).find("<users>\n  <user>\n    <username>a</username>"), std::string::npos)
      << ReadFile(path);
  EXPECT_EQ(XmlDocument::Load(path).DocumentElement().Child(0).ChildValue("username"), "a");
}

TEST(XmlDocumentTest, SaveReplacesTheFileOrLeavesItAsItWas) {
  TempDir dir;
  XmlDocument document = XmlDocument::Create();
  document.AddDocumentElement("global").SetChildValue("port", "21");

  // A missing directory is a failure with the system's text.
  std::string message = ThrownMessage([&] { document.Save(dir.File("no-such-dir/gc.xml")); });
  EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;

  // A directory in the way is not replaced, and nothing is left behind.
  std::filesystem::create_directory(dir.File("taken.xml"));
  EXPECT_THROW(document.Save(dir.File("taken.xml")), std::runtime_error);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken.xml")));

  // An existing file keeps its permissions; a link keeps pointing at the replaced file.
  const std::string real = dir.File("real.xml");
  WriteFile(real, "<old/>");
  ::chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, dir.File("link.xml"));
  document.Save(dir.File("link.xml"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.xml")));
  EXPECT_EQ(XmlDocument::Load(real).DocumentElement().ChildValue("port"), "21");
  struct stat info {};
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  // A read-only file is refused and keeps its content (root may write anything, so skip there).
  if (::geteuid() != 0) {
    ::chmod(real.c_str(), 0440);
    const std::string before = ReadFile(real);
    XmlDocument other = XmlDocument::Create();
    other.AddDocumentElement("global");
    EXPECT_THROW(other.Save(real), std::runtime_error);
    EXPECT_EQ(ReadFile(real), before);
  }

  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 3u);  // taken.xml, real.xml, link.xml: no temporary file remains
}

}  // namespace
}  // namespace corvane
