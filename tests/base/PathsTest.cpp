// Paths and folders by the program's byte names, on either platform.
#include <gtest/gtest.h>

#include <string>

#include "base/Paths.h"
#include "base/SystemError.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

TEST(Paths, FoldersAreMadeWholeAndFilesCreatedOnlyOnce) {
    test::TempFolder temp;
    const std::string root = temp.Path().string();
    const std::string deep = JoinPath(JoinPath(JoinPath(root, "a"), "b"), "c");
    EXPECT_FALSE(PathExists(deep));
    EXPECT_EQ(MakeFolders(deep), 0);
    EXPECT_TRUE(PathExists(deep));
    EXPECT_EQ(MakeFolders(deep), 0) << "a folder that is there is no failure";

    const std::string file = JoinPath(deep, "Tallyport.ini");
    int error = 0;
    EXPECT_EQ(CreateNewFile(file, "first", error), NewFile::Created);
    EXPECT_EQ(CreateNewFile(file, "second", error), NewFile::Existed);
    EXPECT_EQ(test::ReadFile(file), "first") << "an existing file is never replaced";
    EXPECT_EQ(CreateNewFile(JoinPath(JoinPath(root, "missing"), "x"), "", error),
              NewFile::NotCreated);
    EXPECT_FALSE(ErrorText(error).empty());

    // A file where a folder should go.
    EXPECT_NE(MakeFolders(JoinPath(file, "sub")), 0);

    EXPECT_EQ(RemoveFile(file), 0);
    EXPECT_FALSE(PathExists(file));
    EXPECT_EQ(RemoveFile(file), 0) << "a file that is gone is what was wanted";
}

TEST(Paths, TheWorkingFolderMovesAndRelativeNamesFollowIt) {
    test::TempFolder temp;
    const std::string before = WorkingFolder();
    ASSERT_FALSE(before.empty());
    const std::string root = NormalPath(temp.Path().string());
    ASSERT_EQ(ChangeWorkingFolder(root), 0);
    EXPECT_EQ(ComparablePath(WorkingFolder()), ComparablePath(root));
    EXPECT_EQ(ComparablePath(AbsolutePath("x.ini")), ComparablePath(JoinPath(root, "x.ini")));
    EXPECT_EQ(ComparablePath("x.ini"), ComparablePath(JoinPath(root, "x.ini")));
    EXPECT_NE(ChangeWorkingFolder(JoinPath(root, "missing")), 0);
    EXPECT_EQ(ComparablePath(WorkingFolder()), ComparablePath(root));
    ASSERT_EQ(ChangeWorkingFolder(before), 0);
}

TEST(Paths, NonAsciiNamesAreKeptAsBytes) {
    test::TempFolder temp;
    // "ș" in UTF-8 and a byte that is not UTF-8: the program never re-encodes a name.
    for (const std::string& name : {std::string("Set\xC8\x99ri"), std::string("Cas\xBA")}) {
        const std::string folder = JoinPath(temp.Path().string(), name);
        EXPECT_EQ(MakeFolders(folder), 0) << name;
        const std::string file = JoinPath(folder, name + ".ini");
        int error = 0;
        EXPECT_EQ(CreateNewFile(file, "x", error), NewFile::Created) << ErrorText(error);
        EXPECT_TRUE(PathExists(file));
        EXPECT_EQ(ParentFolder(file), folder);
        EXPECT_EQ(NormalPath(JoinPath(JoinPath(folder, ".."), name)), NormalPath(folder));
        EXPECT_EQ(RemoveFile(file), 0);
        EXPECT_FALSE(PathExists(file));
    }
}

}  // namespace
}  // namespace tallyport
