// Canonical virtual paths and the working-directory targets of CWD and CDUP.
#include "service/ftp/virtual_path.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

struct PathCase {
  std::string current;
  std::string path;
  std::string expected;
};

void PrintTo(const PathCase& c, std::ostream* out) {
  *out << "(" << c.current << ", " << testing::PrintToString(c.path) << ")";
}

class CanonicaliseTest : public testing::TestWithParam<PathCase> {};

TEST_P(CanonicaliseTest, GivesTheCanonicalPath) {
  const PathCase& c = GetParam();
  EXPECT_EQ(Canonicalise(c.current, c.path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CanonicaliseTest,
    testing::Values(
        // The worked examples of path canonicalisation.
        PathCase{"/", "a", "/a"}, PathCase{"/a", "b/c", "/a/b/c"}, PathCase{"/a", "../b", "/b"},
        PathCase{"/a", "..", "/"}, PathCase{"/", "..", "/"}, PathCase{"/", "../../x", "/x"},
        PathCase{"/a", "\\x\\y", "/x/y"}, PathCase{"/a", "//b", "/b"},
        PathCase{"/a", "b/", "/a/b/"}, PathCase{"/a", "", "/a/"}, PathCase{"/a", "x/../y", "/a/y"},
        PathCase{"/a", "/p/../../q", "/q"}, PathCase{"/a", "..x", "/x"},
        // Further cases: single dots stay, dot files stay, nothing climbs above the root.
        PathCase{"/a", "./b", "/a/./b"}, PathCase{"/", ".profile", "/.profile"},
        PathCase{"/", "../../etc/passwd", "/etc/passwd"},
        PathCase{"/", "/../../../etc/passwd", "/etc/passwd"}, PathCase{"/", "..\\..\\etc", "/etc"},
        PathCase{"/a/b", "..\\", "/a/"}, PathCase{"/", "..\\", "/"}, PathCase{"/a/", "b", "/a/b"},
        PathCase{"/", "newdir/", "/newdir/"}, PathCase{"/", "\\a\\b.txt", "/a/b.txt"},
        PathCase{"/a", "b//c///d", "/a/b/c/d"}, PathCase{"/a", "/", "/"}, PathCase{"/", "", "/"},
        PathCase{"/x", "...", "/."}, PathCase{"/a/b", "c/..", "/a/b"},
        // ".." at the root stays there, also when a name follows it directly ("..c" is ".." "c").
        PathCase{"/", "../..c", "/c"}, PathCase{"/a", "../../..x/y", "/x/y"},
        PathCase{"/", "..\\..c\\", "/c/"}));

TEST(CanonicaliseTest, EveryAbsoluteResultStartsAtTheRoot) {
  // However many parent steps a client sends, the result stays under "/".
  for (const char* path :
       {"..", "../..", "../../../..", "a/../../..", "..x/..y/../..", "\\..\\.."}) {
    const std::string result = Canonicalise("/a/b", path);
    EXPECT_EQ(result.front(), '/') << path;
    EXPECT_EQ(result.find("/.."), std::string::npos) << path << " -> " << result;
  }
}

class ChangeDirectoryTest : public testing::TestWithParam<PathCase> {};

TEST_P(ChangeDirectoryTest, GivesTheNewWorkingDirectory) {
  const PathCase& c = GetParam();
  EXPECT_EQ(ChangeDirectoryTarget(c.current, c.path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cwd, ChangeDirectoryTest,
    testing::Values(
        // No parameter, "/", "\" and "//" all lead to the root, from anywhere.
        PathCase{"/a/b", "", "/"}, PathCase{"/a/b", "/", "/"}, PathCase{"/a/b", "\\", "/"},
        PathCase{"/a/b", "//", "/"}, PathCase{"/", "", "/"},
        // One trailing separator is dropped before resolving.
        PathCase{"/", "sub", "/sub"}, PathCase{"/", "sub/", "/sub"}, PathCase{"/", "sub\\", "/sub"},
        PathCase{"/sub", "x", "/sub/x"}, PathCase{"/", "nosuchdir", "/nosuchdir"},
        // ".." is CDUP (keeps a trailing slash); "." keeps the directory as it is.
        PathCase{"/a/b", "..", "/a/"}, PathCase{"/a/b", "../", "/a/"}, PathCase{"/", "..", "/"},
        PathCase{"/a/", ".", "/a/"}, PathCase{"/a", "./", "/a"}, PathCase{"/a/b", "../..", "/"},
        PathCase{"/a", "\\x\\y\\", "/x/y"}, PathCase{"/", "a//b", "/a/b"},
        PathCase{"/", "..\\..c\\", "/c"}));

TEST(ParentDirectoryTest, KeepsTheTrailingSlash) {
  EXPECT_EQ(ParentDirectoryTarget("/a/b"), "/a/");
  EXPECT_EQ(ParentDirectoryTarget("/a/b/"), "/a/");
  EXPECT_EQ(ParentDirectoryTarget("/a"), "/");
  EXPECT_EQ(ParentDirectoryTarget("/"), "/");
  EXPECT_EQ(ParentDirectoryTarget(ParentDirectoryTarget("/sub/x")), "/");
}

}  // namespace
}  // namespace corvane
