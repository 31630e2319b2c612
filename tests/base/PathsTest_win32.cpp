// Path spellings on Windows: "\" or "/", drive letters, "\\server\share", names without case.
#include <gtest/gtest.h>

#include "base/Paths.h"

namespace tallyport {
namespace {

TEST(PathsOnWindows, SpellingsOfOnePath) {
    EXPECT_EQ(JoinPath("C:\\Magazin", "Bon.txt"), "C:\\Magazin\\Bon.txt");
    EXPECT_EQ(JoinPath("C:\\Magazin\\", "Bon.txt"), "C:\\Magazin\\Bon.txt");
    EXPECT_EQ(JoinPath("C:\\Magazin", "D:\\bo\\x.ini"), "D:\\bo\\x.ini");
    EXPECT_EQ(NormalPath("C:/Magazin/./bo/"), "C:\\Magazin\\bo");
    EXPECT_EQ(NormalPath("C:\\Magazin\\x\\..\\bo"), "C:\\Magazin\\bo");
    EXPECT_EQ(NormalPath("C:\\"), "C:\\");
    EXPECT_TRUE(IsAbsolutePath("C:\\x"));
    EXPECT_TRUE(IsAbsolutePath("c:/x"));
    EXPECT_TRUE(IsAbsolutePath("\\\\server\\share\\x"));
    EXPECT_FALSE(IsAbsolutePath("C:x")) << "relative to drive C:'s working folder";
    EXPECT_FALSE(IsAbsolutePath("\\x")) << "relative to the working drive";
    EXPECT_FALSE(IsAbsolutePath("x\\y"));
    EXPECT_EQ(ParentFolder("C:\\Magazin\\Bon.txt"), "C:\\Magazin");
    EXPECT_EQ(ParentFolder("Bon.txt"), "");
    // One file, however it is spelled.
    EXPECT_EQ(ComparablePath("c:\\magazin\\..\\Magazin/BON.txt"),
              ComparablePath("C:\\MAGAZIN\\bon.TXT"));
    EXPECT_NE(ComparablePath("C:\\Magazin\\Bon.txt"), ComparablePath("D:\\Magazin\\Bon.txt"));
}

}  // namespace
}  // namespace tallyport
