#include "base/package.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/byte_stream.h"
#include "base/crc32.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "support/test_support.h"

namespace {

void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += char(v >> (8 * i));
}

struct Entry {
    std::string name;
    std::string bytes;
};

// A package of the entries with the given entry size (12 or 16; 0 writes a
// 12-byte table with a header top byte of 0).
std::string MakePackage(const std::vector<Entry>& entries, uint32_t entry_size) {
    std::string out;
    uint32_t size = entry_size == 0 ? 12 : entry_size;
    Put32(out, uint32_t(entries.size()) | entry_size << 24);
    uint32_t offset = 0;
    for (const Entry& e : entries) {
        Put32(out, Crc32OfString(e.name.c_str()));
        Put32(out, offset);
        Put32(out, uint32_t(e.bytes.size()));
        if (size == 16) Put32(out, Crc32Register(e.bytes.data(), e.bytes.size()));
        offset += uint32_t(e.bytes.size());
    }
    for (const Entry& e : entries) out += e.bytes;
    return out;
}

std::vector<std::string> g_lines;

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        SetLogSink([](const char* line, unsigned) { g_lines.emplace_back(line); });
    }
    void TearDown() override {
        FreeAllPackages();
        SetLogSink(nullptr);
    }
    std::string Read(const char* path) {
        ByteStream s;
        if (!s.LoadFile(path)) return "(none)";
        return std::string(reinterpret_cast<const char*>(s.Data()), s.Size());
    }
    quild_test::TempDir dir_;
};

TEST_F(PackageTest, MountedPackagesComeBeforeTheDisk) {
    std::string loose = dir_.file("data/a.txt");
    quild_test::WriteFile(loose, "loose");
    // Names are stored as the program asks for them, lower-cased.
    std::string name = loose;
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    std::string upper = loose;
    upper.replace(upper.size() - 10, 10, "DATA/A.TXT");
    quild_test::WriteFile(dir_.file("p1.pak"), MakePackage({{name, "first"}, {name, "shadowed"}}, 16));
    quild_test::WriteFile(dir_.file("p2.pak"), MakePackage({{name, "second"}, {"other", "xyz"}}, 16));
    ASSERT_TRUE(MountPackage(dir_.file("p1.pak").c_str()));
    ASSERT_TRUE(MountPackage(dir_.file("p2.pak").c_str()));
    EXPECT_EQ(Read(upper.c_str()), "first");
    EXPECT_TRUE(FileExists("OTHER"));
    EXPECT_FALSE(FileExists("nothing"));
    FileStream s;
    ASSERT_TRUE(s.OpenRead("other"));
    EXPECT_EQ(s.Tell(), 0u);
    EXPECT_EQ(s.Size(), 3u);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 3u);  // reads stay inside the entry
    EXPECT_STREQ(buf, "xyz");
    s.Close();
    FreeAllPackages();
    EXPECT_EQ(Read(loose.c_str()), "loose");
}

TEST_F(PackageTest, TwelveByteEntries) {
    quild_test::WriteFile(dir_.file("old.pak"), MakePackage({{"a", "12345"}, {"b", "xy"}}, 0));
    ASSERT_TRUE(MountPackage(dir_.file("old.pak").c_str()));
    ASSERT_EQ(g_packages.head->entries.size(), 2u);
    EXPECT_EQ(g_packages.head->entries[1].checksum, 0u);
    EXPECT_EQ(g_packages.head->data_start, 4u + 24u);
    EXPECT_EQ(Read("B"), "xy");
    quild_test::WriteFile(dir_.file("twelve.pak"), MakePackage({{"c", "abc"}}, 12));
    ASSERT_TRUE(MountPackage(dir_.file("twelve.pak").c_str()));
    EXPECT_EQ(Read("c"), "abc");
}

TEST_F(PackageTest, DamagedPackagesAreRefused) {
    std::string good = MakePackage({{"a", "12345"}, {"b", "xy"}}, 16);
    std::string bad_size = good;
    bad_size[3] = 13;
    std::string huge_count = good;
    huge_count[0] = char(0xFF), huge_count[1] = char(0xFF), huge_count[2] = char(0xFF);
    const std::string cases[] = {"", "\x01", bad_size, huge_count, good.substr(0, 20)};
    int n = 0;
    for (const std::string& c : cases) {
        std::string path = dir_.file("bad" + std::to_string(n++) + ".pak");
        quild_test::WriteFile(path, c);
        EXPECT_FALSE(MountPackage(path.c_str())) << n;
    }
    EXPECT_EQ(g_packages.head, nullptr);
    EXPECT_FALSE(MountPackage(dir_.file("missing.pak").c_str()));

    // An entry that reaches outside the file is dropped; the rest stays.
    std::string cut = good.substr(0, good.size() - 1);
    quild_test::WriteFile(dir_.file("cut.pak"), cut);
    ASSERT_TRUE(MountPackage(dir_.file("cut.pak").c_str()));
    EXPECT_EQ(g_packages.head->entries.size(), 1u);
    EXPECT_EQ(Read("a"), "12345");
    EXPECT_FALSE(FileExists("b"));
    bool logged = false;
    for (const std::string& l : g_lines) logged |= l.find("dropped") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(PackageTest, EitherSeparatorFindsTheEntry) {
    // One package stored with '/' names, one with '\\' names (as built on
    // another system); each answers paths written with either.
    quild_test::WriteFile(dir_.file("fwd.pak"), MakePackage({{"pk/sub/y.ogg", "forward"}}, 16));
    quild_test::WriteFile(dir_.file("back.pak"), MakePackage({{"pk\\music\\z.ogg", "backward"}}, 16));
    ASSERT_TRUE(MountPackage(dir_.file("fwd.pak").c_str()));
    ASSERT_TRUE(MountPackage(dir_.file("back.pak").c_str()));
    EXPECT_EQ(Read("pk\\sub\\Y.ogg"), "forward");
    EXPECT_EQ(Read("PK/sub//y.OGG"), "forward");
    EXPECT_EQ(Read("pk/music/Z.ogg"), "backward");
    EXPECT_EQ(Read("pk\\music\\z.ogg"), "backward");
    EXPECT_TRUE(FileExists("pk\\sub\\y.ogg"));
    EXPECT_FALSE(FileExists("pk\\sub\\x.ogg"));
    // The stored hash stays the one of the lower-cased path as written.
    EXPECT_EQ(g_packages.head->entries[0].hash, PackageNameHash("PK/SUB/Y.OGG"));
}

TEST_F(PackageTest, FoldersAndSpecialFilesAreNotPackages) {
    ASSERT_EQ(mkdir(dir_.file("adir.pak").c_str(), 0755), 0);
    EXPECT_FALSE(MountPackage(dir_.file("adir.pak").c_str()));
    ASSERT_EQ(mkfifo(dir_.file("pipe.pak").c_str(), 0644), 0);
    EXPECT_FALSE(MountPackage(dir_.file("pipe.pak").c_str()));  // returns at once, no writer needed
    EXPECT_EQ(g_packages.head, nullptr);
}

}  // namespace
