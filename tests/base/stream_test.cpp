#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "base/byte_stream.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "base/package_builder.h"
#include "support/test_support.h"

using quild_test::ReadFile;
using quild_test::TempDir;
using quild_test::WriteFile;

TEST(FileStream, TellSeekEofSizeOnAPlainFile) {
    TempDir dir;
    WriteFile(dir.file("Data/File.txt"), "0123456789");
    FileStream f;
    ASSERT_TRUE(f.OpenRead((dir.path() + "\\DATA\\file.TXT").c_str()));
    EXPECT_EQ(f.Size(), 10u);
    EXPECT_EQ(f.Tell(), 0u);
    char buf[4] = {};
    EXPECT_EQ(f.Read(buf, 3), 3u);
    EXPECT_EQ(f.Tell(), 3u);
    f.SeekAbsolute(8);
    EXPECT_EQ(f.GetChar(), '8');
    f.SeekRelative(-5);
    EXPECT_EQ(f.GetChar(), '4');
    f.SeekAbsolute(10);
    EXPECT_EQ(f.GetChar(), 255);  // the end reads as 255
    EXPECT_TRUE(f.Eof());
    f.Rewind();
    EXPECT_EQ(f.GetChar(), '0');
    EXPECT_EQ(f.Write("x", 1), 0u);  // opened for reading
    f.Close();
    EXPECT_FALSE(f.OpenRead(dir.file("none").c_str()));
    EXPECT_TRUE(FileExists(dir.file("data/file.txt").c_str()));
    EXPECT_FALSE(FileExists(dir.file("data/nofile.txt").c_str()));
}

namespace {
std::string g_package_path;
// A stand-in for a mounted package: any path "pkg:*" maps to bytes 4..9 of
// the package file.
bool TestHook(const char* path, FileStream* stream) {
    if (std::string(path).rfind("pkg:", 0) != 0) return false;
    if (!stream) return true;
    return stream->OpenPackageEntry(nullptr, reinterpret_cast<const PackageEntry*>(1), g_package_path.c_str(), 4,
                                    6);
}
}  // namespace

TEST(FileStream, ReadsAndSeeksStayInsideAPackageEntry) {
    TempDir dir;
    g_package_path = dir.file("pack.bin");
    WriteFile(g_package_path, "HEADabcdefTAIL");
    SetPackageOpenHook(TestHook);
    FileStream f;
    ASSERT_TRUE(f.OpenRead("pkg:x"));
    EXPECT_TRUE(f.InPackage());
    EXPECT_EQ(f.Tell(), 0u);
    EXPECT_EQ(f.Size(), 6u);
    char buf[32] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf), 6u);
    EXPECT_STREQ(buf, "abcdef");
    EXPECT_TRUE(f.Eof());
    EXPECT_EQ(f.GetChar(), 255);
    f.SeekAbsolute(100);
    EXPECT_EQ(f.Tell(), 6u);
    f.SeekRelative(-100);
    EXPECT_EQ(f.Tell(), 0u);
    f.SeekRelative(2);
    EXPECT_EQ(f.GetChar(), 'c');
    f.Rewind();
    EXPECT_EQ(f.GetChar(), 'a');
    EXPECT_TRUE(FileExists("pkg:anything"));
    ByteStream b;
    ASSERT_TRUE(b.LoadFile("pkg:y"));
    EXPECT_EQ(b.Size(), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Data()), 6), "abcdef");
    SetPackageOpenHook(nullptr);
    EXPECT_FALSE(FileExists("pkg:anything"));
}

TEST(ByteStream, ReadsStayInsideTheBlockAndWritesGrowIt) {
    ByteStream b;
    EXPECT_FALSE(b.LoadFile("/nonexistent/file"));
    EXPECT_EQ(b.Size(), 0u);
    EXPECT_EQ(b.Data(), nullptr);
    const char text[] = "hello";
    b.Borrow(text, 5);
    char out[16] = {};
    b.SeekAbsolute(3);
    EXPECT_EQ(b.Read(out, 16), 2u);
    EXPECT_STREQ(out, "lo");
    EXPECT_TRUE(b.Eof());
    EXPECT_EQ(b.GetChar(), 255);
    b.SeekRelative(-100);
    EXPECT_EQ(b.Tell(), 0u);
    b.SeekAbsolute(1000);
    EXPECT_EQ(b.Tell(), 5u);
    // Writing past the end copies the borrowed block into one of our own.
    EXPECT_EQ(b.PutChar('!'), '!');
    EXPECT_EQ(b.Size(), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Data()), 6), "hello!");
    EXPECT_STREQ(text, "hello");
    EXPECT_EQ(b.Write("x", 1), 0u);
    b.Close();
    EXPECT_EQ(b.Size(), 0u);
}

TEST(Streams, PrintfIsBoundedAndAtomicWritesReplaceWhole) {
    TempDir dir;
    FileStream f;
    ASSERT_TRUE(f.Create(dir.file("out.txt").c_str()));
    std::string big(3000, 'y');
    StreamPrintf(&f, "%s", big.c_str());
    StreamPrintf(&f, "[%d]", 42);
    f.Close();
    std::string got = ReadFile(dir.file("out.txt"));
    EXPECT_EQ(got.size(), 1023u + 4u);
    EXPECT_EQ(got.substr(1023), "[42]");

    ASSERT_TRUE(WriteFileAtomic(dir.file("scene.lua").c_str(), "old", 3));
    ASSERT_TRUE(WriteFileAtomic(dir.file("SCENE.lua").c_str(), "new!", 4));
    EXPECT_EQ(ReadFile(dir.file("scene.lua")), "new!");
    EXPECT_FALSE(WriteFileAtomic(dir.file("no/such/folder/x").c_str(), "x", 1));
}

TEST(UserFolder, CreatedUnderHomeOnFirstWrite) {
    TempDir home;
    std::string saved = getenv("HOME");
    setenv("HOME", home.path().c_str(), 1);
    std::string path;
    ASSERT_TRUE(GetUserFilePath("log.txt", path));
    EXPECT_EQ(path, home.path() + "/Documents/Quorvane/log.txt");
    FileStream f;
    ASSERT_TRUE(f.CreateInUserFolder("shot.jpg"));
    f.Close();
    EXPECT_TRUE(FileExists((home.path() + "/Documents/Quorvane/shot.jpg").c_str()));
    setenv("HOME", saved.c_str(), 1);
}

TEST(FileStream, OnlyRegularFilesOfABoundedSizeAreRead) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub.lua").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.file("pipe.lua").c_str(), 0644), 0);
    FileStream f;
    EXPECT_FALSE(f.OpenRead(dir.file("sub.lua").c_str()));
    EXPECT_FALSE(f.OpenRead(dir.file("SUB.LUA").c_str()));
    EXPECT_FALSE(f.OpenRead(dir.file("pipe.lua").c_str()));  // returns at once
    EXPECT_FALSE(f.OpenRead("/dev/zero"));
    EXPECT_FALSE(FileExists(dir.file("sub.lua").c_str()));
    ByteStream b;
    EXPECT_FALSE(b.LoadFile(dir.file("sub.lua").c_str()));
    EXPECT_FALSE(b.LoadFile("/dev/zero"));
    // A file too large to read whole is refused before anything is
    // allocated (a sparse file: no disk space used).
    WriteFile(dir.file("big.bin"), "");
    ASSERT_EQ(truncate(dir.file("big.bin").c_str(), off_t{kMaxWholeFileSize} + 1), 0);
    ASSERT_TRUE(f.OpenRead(dir.file("big.bin").c_str()));
    EXPECT_EQ(f.Size(), kMaxWholeFileSize + 1);
    f.Close();
    EXPECT_FALSE(b.LoadFile(dir.file("big.bin").c_str()));
    // Writing still creates files in folders as before.
    ASSERT_TRUE(f.Create(dir.file("sub.lua/x.txt").c_str()));
    f.Close();
    EXPECT_TRUE(f.OpenRead(dir.file("sub.lua/x.txt").c_str()));
}

TEST(Streams, AtomicWritesLeaveNoTemporaryAndKeepTheOldFileOnFailure) {
    TempDir dir;
    ASSERT_TRUE(WriteFileAtomic(dir.file("a.bin").c_str(), "one", 3));
    // Names a temporary could take, planted as links to another file: the
    // temporary is created exclusively, never written through a link.
    WriteFile(dir.file("victim"), "victim");
    std::string base = dir.file("a.bin.tmp") + std::to_string(getpid());
    int planted = 0;
    for (int i = -1; i < 16; ++i, ++planted)
        ASSERT_EQ(symlink(dir.file("victim").c_str(), (i < 0 ? base : base + "-" + std::to_string(i)).c_str()), 0);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(WriteFileAtomic(dir.file("a.bin").c_str(), "two", 3));
    EXPECT_EQ(ReadFile(dir.file("a.bin")), "two");
    EXPECT_EQ(ReadFile(dir.file("victim")), "victim");
    // A target that cannot be replaced (a folder) fails and leaves it be.
    ASSERT_EQ(mkdir(dir.file("d").c_str(), 0755), 0);
    WriteFile(dir.file("d/keep"), "k");
    EXPECT_FALSE(WriteFileAtomic(dir.file("d").c_str(), "x", 1));
    EXPECT_EQ(ReadFile(dir.file("d/keep")), "k");
    int temporaries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        temporaries += e.path().filename().string().find(".tmp") != std::string::npos;
    EXPECT_EQ(temporaries, planted);
}

// Temporaries of runs that ended before their rename go at the next write of
// the same target; those of live processes, of other targets and other
// names stay.
TEST(Streams, TemporariesOfEndedRunsGoAtTheNextWriteOfTheirTarget) {
    TempDir dir;
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string dead = std::to_string(ended), live = std::to_string(getppid());
    const char* const gone[] = {"a.bin.tmp{d}-0", "a.bin.tmp{d}-17", "game.pak.tmp{d}"};
    const char* const kept[] = {"a.bin.tmp{l}-3", "a.bin.tmp{d}-", "a.bin.tmp{d}x", "a.bin.tmp", "b.bin.tmp{d}-1",
                                "xa.bin.tmp{d}-1", "a.bin.tmp0-1", "game.pak.tmp{l}"};
    auto name = [&](std::string n) {
        if (size_t at = n.find("{d}"); at != std::string::npos) n.replace(at, 3, dead);
        if (size_t at = n.find("{l}"); at != std::string::npos) n.replace(at, 3, live);
        return dir.file(n);
    };
    for (const char* n : gone) WriteFile(name(n), std::string(100, 'x'));
    for (const char* n : kept) WriteFile(name(n), "keep");
    ASSERT_EQ(mkdir(name("a.bin.tmp{d}-5").c_str(), 0755), 0);  // not a file: left

    ASSERT_TRUE(WriteFileAtomic(dir.file("a.bin").c_str(), "new", 3));
    EXPECT_FALSE(std::filesystem::exists(name(gone[0])));
    EXPECT_FALSE(std::filesystem::exists(name(gone[1])));
    EXPECT_TRUE(std::filesystem::exists(name(gone[2]))) << "another target's";
    for (const char* n : kept) EXPECT_EQ(ReadFile(name(n)), "keep") << n;
    EXPECT_TRUE(std::filesystem::is_directory(name("a.bin.tmp{d}-5")));

    PackageBuilder builder;
    ASSERT_TRUE(builder.Open(dir.file("game.pak").c_str()));
    EXPECT_FALSE(std::filesystem::exists(name(gone[2])));
    EXPECT_EQ(ReadFile(name("game.pak.tmp{l}")), "keep");
}

namespace {
std::vector<std::pair<std::string, unsigned>> g_lines;
void Sink(const char* line, unsigned colour) { g_lines.emplace_back(line, colour); }
}  // namespace

TEST(Log, WritesCrlfLinesAndColoursByTheFormat) {
    TempDir home;
    std::string saved = getenv("HOME");
    setenv("HOME", home.path().c_str(), 1);
    g_lines.clear();  // the lines of an earlier repeat
    SetLogSink(Sink);
    // The first creation in a run writes back what was logged before it (by
    // earlier tests here); the second starts empty.
    CreateLogFile();
    CreateLogFile();
    LogPrintf("[INIT]");
    LogPrintf("[ERROR] - SCRIPT %s: \r\n %s", "main", "oops");
    LogPrintf("%s", "an ERROR inside an argument");
    std::string big(5000, 'z');
    LogPrintf("%s", big.c_str());
    SetLogSink(nullptr);
    std::string log = ReadFile(home.path() + "/Documents/Quorvane/log.txt");
    EXPECT_EQ(log.substr(0, 8), "[INIT]\r\n");
    EXPECT_NE(log.find("[ERROR] - SCRIPT main: \r\n oops\r\n"), std::string::npos);
    EXPECT_EQ(log.size(), 8u + 32u + 29u + 4095u + 2u);
    ASSERT_EQ(g_lines.size(), 4u);
    EXPECT_EQ(g_lines[0].second, kLogColourNormal);
    EXPECT_EQ(g_lines[1].second, kLogColourError);
    EXPECT_EQ(g_lines[2].second, kLogColourNormal);
    CreateLogFile();  // truncates
    EXPECT_EQ(ReadFile(home.path() + "/Documents/Quorvane/log.txt"), "");
    setenv("HOME", saved.c_str(), 1);
}
