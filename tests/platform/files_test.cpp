#include "platform/files.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

using quild_test::TempDir;
using quild_test::WriteFile;

TEST(Files, ResolvesWindowsStylePathsIgnoringCase) {
    TempDir dir;
    WriteFile(dir.file("data/stages/hall/data.lua"), "x=1");
    std::string asked = dir.path() + "\\Data\\Stages\\Hall\\DATA.lua";
    EXPECT_EQ(plat::ResolveExisting(asked.c_str()), dir.file("data/stages/hall/data.lua"));
    FILE* f = plat::OpenFile(asked.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(plat::PathExists(asked.c_str()));
    EXPECT_FALSE(plat::PathExists((dir.path() + "/data/stages/hall/missing.lua").c_str()));
    EXPECT_TRUE(plat::IsFolder((dir.path() + "/DATA/stages").c_str()));
}

TEST(Files, ReadingCreatesNothingWritingKeepsTheNewName) {
    TempDir dir;
    WriteFile(dir.file("Saves/keep.txt"), "k");
    EXPECT_EQ(plat::OpenFile((dir.path() + "/saves/none/x.txt").c_str(), "rb"), nullptr);
    EXPECT_FALSE(plat::PathExists((dir.path() + "/saves/none").c_str()));

    FILE* f = plat::OpenFile((dir.path() + "\\SAVES\\NewFile.TXT").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(plat::PathExists(dir.file("Saves/NewFile.TXT").c_str()));
    // The new file is found afterwards under any case.
    EXPECT_EQ(plat::ResolveExisting((dir.path() + "/saves/newfile.txt").c_str()), dir.file("Saves/NewFile.TXT"));
}

TEST(Files, ListsFoldersWithFlagsAndSkipsLinks) {
    TempDir dir;
    WriteFile(dir.file("a.txt"), "a");
    WriteFile(dir.file(".hidden"), "h");
    WriteFile(dir.file("sub/b.txt"), "b");
    ASSERT_EQ(symlink(dir.file("sub").c_str(), dir.file("link").c_str()), 0);
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(plat::ListDirectory(dir.path().c_str(), entries));
    int files = 0, folders = 0, hidden = 0;
    for (const auto& e : entries) {
        EXPECT_NE(e.name, "link");
        files += !e.is_folder;
        folders += e.is_folder;
        hidden += e.hidden;
    }
    EXPECT_EQ(files, 2);
    EXPECT_EQ(folders, 1);
    EXPECT_EQ(hidden, 1);
    EXPECT_FALSE(plat::ListDirectory(dir.file("nope").c_str(), entries));
}

TEST(Files, DocumentsFolderFollowsEnvironment) {
    const char* old_home = getenv("HOME");
    std::string saved = old_home ? old_home : "";
    setenv("XDG_DOCUMENTS_DIR", "/tmp/xdg-docs", 1);
    EXPECT_EQ(plat::DocumentsFolder(), "/tmp/xdg-docs");
    unsetenv("XDG_DOCUMENTS_DIR");
    setenv("HOME", "/tmp/somehome", 1);
    EXPECT_EQ(plat::DocumentsFolder(), "/tmp/somehome/Documents");
    setenv("HOME", saved.c_str(), 1);
}

TEST(Files, AFolderChangedBehindTheLayerIsListedAgain) {
    TempDir dir;
    WriteFile(dir.file("Music/a.ogg"), "a");
    EXPECT_FALSE(plat::PathExists((dir.path() + "/music/B.OGG").c_str()));  // lists the folder
    WriteFile(dir.file("Music/b.ogg"), "b");  // not through the layer
    EXPECT_EQ(plat::ResolveExisting((dir.path() + "/music/B.OGG").c_str()), dir.file("Music/b.ogg"));
}
