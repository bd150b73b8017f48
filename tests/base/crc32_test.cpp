#include "base/crc32.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

TEST(Crc32, StandardVectorsAndTheRegisterForm) {
    EXPECT_EQ(Crc32OfString("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32Register("123456789", 9), ~0xCBF43926u);
    EXPECT_EQ(Crc32OfString("abc"), 0x352441C2u);
    EXPECT_EQ(Crc32Register("abc", 3), 0xCADBBE3Du);
    EXPECT_EQ(Crc32Update(0x12345678u, "x", 0), 0x12345678u);
    EXPECT_EQ(Crc32OfString(""), 0u);
    // The table is the classic one.
    EXPECT_EQ(Crc32Table()[1], 0x77073096u);
    EXPECT_EQ(Crc32Table()[255], 0x2D02EF8Du);
}

TEST(Crc32, IncrementalUpdatesMatchOneShot) {
    std::string data;
    for (int i = 0; i < 10000; ++i) data.push_back(static_cast<char>(i * 7));
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t off = 0; off < data.size(); off += 333)
        reg = Crc32Update(reg, data.data() + off, std::min<size_t>(333, data.size() - off));
    EXPECT_EQ(reg, Crc32Register(data.data(), data.size()));
    EXPECT_EQ(Crc32UpdateString(Crc32UpdateString(0xFFFFFFFFu, "1234"), "56789"), ~0xCBF43926u);
}

TEST(Crc32, Files) {
    quild_test::TempDir dir;
    quild_test::WriteFile(dir.file("a.bin"), "123456789");
    EXPECT_EQ(Crc32OfFile(dir.file("a.bin").c_str()), 0xCBF43926u);
    EXPECT_EQ(Crc32OfFile(dir.file("missing").c_str()), 0u);
    EXPECT_EQ(Crc32UpdateFile(7u, dir.file("missing").c_str()), 7u);
}
