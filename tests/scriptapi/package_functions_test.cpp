#include <cstdio>

#include "base/byte_stream.h"
#include "base/crc32.h"
#include "base/package.h"
#include "script/script_test_support.h"

using script_test::Logged;
using script_test::ScriptTest;

namespace {

uint32_t U32(const std::string& s, size_t at) {
    return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8 | uint8_t(s[at + 2]) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

std::string Hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%x", v);
    return b;
}

class PackageFunctionsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        quild_test::WriteFile(Path("data/x.tga"), "targa bytes");
        quild_test::WriteFile(Path("data/sub/y.ogg"), "ogg");
        quild_test::WriteFile(Path("data/skip.txt"), "not packed");
    }
    void TearDown() override {
        FreeAllPackages();
        ScriptTest::TearDown();
    }
    std::string ReadThroughPackages(const char* path) {
        ByteStream s;
        if (!s.LoadFile(path)) return "(none)";
        return std::string(reinterpret_cast<const char*>(s.Data()), s.Size());
    }
};

TEST_F(PackageFunctionsTest, BuildMountAndRead) {
    Lua("package_open('out.pak'); package_add('data', ';tga;ogg;', true); package_close()");
    std::string pak = quild_test::ReadFile(Path("out.pak"));
    ASSERT_GE(pak.size(), 4u + 32u);
    EXPECT_EQ(U32(pak, 0), 0x10000002u);
    // The walk goes in name order: the folder "sub" comes before "x.tga".
    EXPECT_EQ(U32(pak, 4), Crc32OfString("data/sub/y.ogg"));
    EXPECT_EQ(U32(pak, 8), 0u);
    EXPECT_EQ(U32(pak, 12), 3u);
    EXPECT_EQ(U32(pak, 16), Crc32Register("ogg", 3));
    EXPECT_EQ(U32(pak, 20), Crc32OfString("data/x.tga"));
    EXPECT_EQ(U32(pak, 24), 3u);
    EXPECT_EQ(U32(pak, 28), 11u);
    EXPECT_EQ(U32(pak, 32), Crc32Register("targa bytes", 11));
    EXPECT_EQ(pak.substr(36), "oggtarga bytes");

    EXPECT_EQ(quild_test::ReadFile(Path("filescrc.txt")),
              "PACKAGE[out.pak]\r\ndata/sub/y.ogg : " + Hex(Crc32Register("ogg", 3)) + "\r\ndata/x.tga : " +
                  Hex(Crc32Register("targa bytes", 11)) + "\r\n\r\n");
    uint32_t running = Crc32Update(Crc32Register("ogg", 3), "targa bytes", 11);
    EXPECT_EQ(quild_test::ReadFile(Path("packcrc.txt")), "PACKAGE[out.pak] : " + Hex(running) + "\r\n");

    Lua("ge_addpackage('out.pak')");
    std::remove(Path("data/x.tga").c_str());
    EXPECT_EQ(ReadThroughPackages("Data/X.TGA"), "targa bytes");
    EXPECT_EQ(ReadThroughPackages("data/sub/y.ogg"), "ogg");

    Lua("h = fopenRead('DATA/x.tga'); assert(type(h) == 'userdata'); fclose(h)");
    Lua("assert(fopenRead('data/none') == nil)");
    Lua("fclose(h)");  // already closed: refused, not freed twice
    EXPECT_TRUE(Logged("fclose: not an open stream"));
    Lua("ge_copyfile('data/x.tga', 'copy.tga')");
    EXPECT_EQ(quild_test::ReadFile(Path("copy.tga")), "targa bytes");
}

TEST_F(PackageFunctionsTest, CheckLeavesOutUnchangedFiles) {
    Lua("package_open('v1.pak'); package_add('data', ';tga;ogg;', true); package_close()");
    quild_test::WriteFile(Path("data/sub/y.ogg"), "ogg, changed");
    Lua("package_read('v1.pak'); package_open('v2.pak'); package_check('data', ';tga;ogg;', true); package_close()");
    EXPECT_TRUE(Logged("ALREADY EXITS: data/x.tga"));
    std::string pak = quild_test::ReadFile(Path("v2.pak"));
    EXPECT_EQ(U32(pak, 0), 0x10000001u);
    EXPECT_EQ(U32(pak, 4), Crc32OfString("data/sub/y.ogg"));
    EXPECT_EQ(pak.substr(20), "ogg, changed");
    // package_close emptied the reference table: everything goes in again.
    Lua("package_open('v3.pak'); package_check('data', ';tga;ogg;', true); package_close()");
    EXPECT_EQ(U32(quild_test::ReadFile(Path("v3.pak")), 0), 0x10000002u);
}

TEST_F(PackageFunctionsTest, RefusedAndMissingFiles) {
    Lua("package_add('data', ';tga;', true); package_addfile('data/x.tga'); package_close()");  // nothing open
    EXPECT_FALSE(quild_test::ReadFile(Path("filescrc.txt")).size());

    std::string long_name = "data/" + std::string(130, 'l') + ".tga";
    quild_test::WriteFile(Path("data/gone.tga"), "soon gone");
    ScriptRunFormat("package_open('p%%s%%n.pak'); package_addfile('data/gone.tga'); package_addfile('data/x.tga')");
    Lua("package_addfile('DATA/X.TGA'); package_addfile('noextension')");
    ScriptRunFormat("package_addfile('%s')", long_name.c_str());
    EXPECT_TRUE(Logged("name hash already held"));
    EXPECT_TRUE(Logged("path too long"));
    std::remove(Path("data/gone.tga").c_str());
    Lua("package_close()");
    std::string files = quild_test::ReadFile(Path("filescrc.txt"));
    EXPECT_NE(files.find("PACKAGE[p%s%n.pak]\r\nFILE DOESN'T EXIST! [data/gone.tga]data/x.tga : "), std::string::npos);
    std::string pak = quild_test::ReadFile(Path("p%s%n.pak"));
    EXPECT_EQ(U32(pak, 0), 0x10000001u);  // the missing file is left out of the table
    Lua("ge_addpackage('p%s%n.pak')");
    std::remove(Path("data/x.tga").c_str());
    EXPECT_EQ(ReadThroughPackages("data/x.tga"), "targa bytes");
    EXPECT_EQ(ReadThroughPackages("data/gone.tga"), "(none)");
}

}  // namespace
