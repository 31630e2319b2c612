// Path spellings on POSIX: "/" alone separates, a root is "/".
#include <gtest/gtest.h>

#include "base/Paths.h"

namespace tallyport {
namespace {

TEST(PathsOnPosix, SpellingsOfOnePath) {
    EXPECT_EQ(JoinPath("/srv/bo", "Bon.txt"), "/srv/bo/Bon.txt");
    EXPECT_EQ(JoinPath("/srv/bo/", "Bon.txt"), "/srv/bo/Bon.txt");
    EXPECT_EQ(JoinPath("/srv/bo", "/etc/x.ini"), "/etc/x.ini");
    EXPECT_EQ(JoinPath("/srv/bo", ""), "/srv/bo");
    EXPECT_EQ(NormalPath("/usr/./bin/"), "/usr/bin");
    EXPECT_EQ(NormalPath("/usr/lib/../bin"), "/usr/bin");
    EXPECT_EQ(NormalPath("/"), "/");
    EXPECT_EQ(NormalPath("a\\b"), "a\\b") << "a backslash is part of a name";
    EXPECT_TRUE(IsAbsolutePath("/x"));
    EXPECT_FALSE(IsAbsolutePath("x/y"));
    EXPECT_FALSE(IsAbsolutePath("C:\\x"));
    EXPECT_EQ(ParentFolder("/srv/bo/Bon.txt"), "/srv/bo");
    EXPECT_EQ(ParentFolder("Bon.txt"), "");
    EXPECT_EQ(ComparablePath("/srv/../srv/Bo"), "/srv/Bo") << "names keep their case";
}

}  // namespace
}  // namespace tallyport
