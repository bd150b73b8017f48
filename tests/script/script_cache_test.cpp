#include <zlib.h>

#include <cstring>

#include "base/crc32.h"
#include "script/lua_chunk.h"
#include "script/script_cache.h"
#include "script_test_support.h"

extern "C" {
#include <lualib.h>
}

using script_test::Logged;
using script_test::ScriptTest;

namespace {

uint32_t U32(const std::string& s, size_t at) {
    return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8 | uint8_t(s[at + 2]) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class ScriptCacheTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        g_compiled_scripts.Clear();
    }
    void TearDown() override {
        g_compiled_scripts.Clear();
        ScriptTest::TearDown();
    }
    std::string StrippedDump(const char* source) {
        EXPECT_EQ(luaL_loadstring(L, source), 0);
        EXPECT_TRUE(DumpStrippedFunction(L));
        lua_pop(L, 1);
        return std::string(g_dump_buffer.begin(), g_dump_buffer.end());
    }
};

TEST(LuaChunk, StripMatchesAStrippingDumpByteForByte) {
    // The reference was written by a stripping dump of the same source.
    std::string dir = std::string(QUILD_SOURCE_DIR) + "/tests/script/data/";
    std::string source = quild_test::ReadFile(dir + "strip_sample.lua");
    std::string reference = quild_test::ReadFile(dir + "strip_sample.stripped");
    ASSERT_FALSE(source.empty());
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    ASSERT_EQ(luaL_loadbuffer(L, source.data(), source.size(), "=?"), 0);
    std::vector<uint8_t> full;
    lua_dump(L, [](lua_State*, const void* p, size_t n, void* ud) {
        auto* v = static_cast<std::vector<uint8_t>*>(ud);
        v->insert(v->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
        return 0;
    }, &full);
    std::vector<uint8_t> stripped;
    ASSERT_TRUE(StripLuaChunk(full.data(), full.size(), stripped));
    EXPECT_EQ(stripped, Bytes(reference));
    EXPECT_LT(stripped.size(), full.size());
    // Stripping is idempotent, and the stripped chunk runs.
    std::vector<uint8_t> again;
    ASSERT_TRUE(StripLuaChunk(stripped.data(), stripped.size(), again));
    EXPECT_EQ(again, stripped);
    ASSERT_EQ(luaL_loadbuffer(L, reinterpret_cast<const char*>(stripped.data()), stripped.size(), "s"), 0);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0);
    lua_getglobal(L, "result");
    EXPECT_EQ(lua_tonumber(L, -1), (1 + 2 + 4) + (3 * 2 + 2));
    lua_close(L);
}

TEST(LuaChunk, DamagedChunksAreRefused) {
    std::string dir = std::string(QUILD_SOURCE_DIR) + "/tests/script/data/";
    std::vector<uint8_t> good = Bytes(quild_test::ReadFile(dir + "strip_sample.stripped"));
    ASSERT_TRUE(CheckLuaChunk(good.data(), good.size()));
    for (size_t cut : {size_t(0), size_t(5), size_t(12), size_t(40), good.size() - 1})
        EXPECT_FALSE(CheckLuaChunk(good.data(), cut)) << cut;
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(CheckLuaChunk(longer.data(), longer.size()));
    std::vector<uint8_t> bits32 = good;
    bits32[8] = 4;  // a 32-bit build's size_t
    EXPECT_FALSE(CheckLuaChunk(bits32.data(), bits32.size()));
    std::vector<uint8_t> out;
    EXPECT_FALSE(StripLuaChunk(bits32.data(), bits32.size(), out));
    EXPECT_TRUE(out.empty());
}

TEST_F(ScriptCacheTest, EditedScriptIsRecompiled) {
    quild_test::WriteFile(Path("s.lua"), "x = 1");
    EXPECT_EQ(RunScript("s"), 0);
    EXPECT_EQ(Number("x"), 1);
    EXPECT_TRUE(Logged("[SCRIPT] - s"));
    CompiledScript* r = g_compiled_scripts.Find("S");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->checksum, Crc32Register("x = 1", 5));
    const ChunkBytes old_chunk = r->chunk;

    quild_test::WriteFile(Path("s.lua"), "x = 2");
    EXPECT_EQ(RunScript("s.lua"), 0);  // the same record, with or without ".lua"
    EXPECT_EQ(Number("x"), 2);
    EXPECT_EQ(g_compiled_scripts.head, g_compiled_scripts.tail);
    EXPECT_NE(*r->chunk, *old_chunk);
    EXPECT_EQ(r->checksum, Crc32Register("x = 2", 5));
}

// Lua's parser runs a collection step before it reads: a finalizer there
// that removes the script being loaded from the cache (removescript), or
// replaces its chunk (dumpscript of the changed file), leaves the load
// reading the chunk it started with, whole.
TEST_F(ScriptCacheTest, AFinalizerAtTheLoadsCollectionStepLeavesTheChunkItReads) {
    // A large chunk: a freed one is soon written over.
    std::string source = "runs = (runs or 0) + 1 t = {";
    for (int i = 0; i < 400; ++i) source += "'text " + std::to_string(i) + "',";
    source += "}";
    lua_register(L, "rewrite", [](lua_State*) -> int {
        quild_test::WriteFile("foo.lua", "runs = -100");
        return 0;
    });
    // scribble(n): takes blocks of n bytes and less (a freed chunk's, or
    // its pieces) and writes over them, as the allocations after a free may.
    static std::vector<void*> taken;
    lua_register(L, "scribble", [](lua_State* L) -> int {
        for (size_t n = size_t(lua_tointeger(L, 1)); n >= 32; n = n * 3 / 4)
            for (int i = 0; i < 2; ++i) {
                taken.push_back(::operator new(n));
                std::memset(taken.back(), 0xAB, n);
            }
        return 0;
    });
    for (const char* action : {"removescript('foo') scribble(CHUNK)", "rewrite() dumpscript('foo') scribble(CHUNK)"}) {
        Lua("runs = 0");
        quild_test::WriteFile(Path("foo.lua"), source);
        ASSERT_EQ(RunScript("foo"), 0);  // compiled into the cache
        lua_pushinteger(L, lua_Integer(g_compiled_scripts.Find("foo")->chunk->size()));
        lua_setglobal(L, "CHUNK");
        // Renewed at every collection, it acts once armed; with no pause
        // and a huge step the load's own check runs a whole collection.
        Lua((std::string("armed = false local function f() getmetatable(newproxy(true)).__gc = function() f() "
                         "if armed then armed = false ") +
             action + " end end end f() collectgarbage('setpause', 1) collectgarbage('setstepmul', 1e8) collectgarbage()")
                .c_str());
        lua_pushboolean(L, 1);
        lua_setglobal(L, "armed");
        EXPECT_EQ(RunScript("foo"), 0) << action;  // the cached chunk: nothing else allocates before the load
        DisarmFinalizers();
        EXPECT_EQ(Number("runs"), 2) << action;
        // The cached chunk ran: a record compiled afresh would mean it failed.
        Lua("assert(#t == 400 and t[400] == 'text 399')");
        if (std::string(action).find("remove") != std::string::npos)
            EXPECT_EQ(g_compiled_scripts.Find("foo"), nullptr);
        else
            EXPECT_NE(*g_compiled_scripts.Find("foo")->chunk, Bytes(StrippedDump(source.c_str())));
    }
    for (void* block : taken) ::operator delete(block);
    taken.clear();
}

TEST_F(ScriptCacheTest, CachedChunkRunsAfterItsSourceIsGone) {
    quild_test::WriteFile(Path("gone.lua"), "y = (y or 0) + 1");
    EXPECT_EQ(RunScript("gone"), 0);
    ASSERT_EQ(std::remove(Path("gone.lua").c_str()), 0);
    int top = lua_gettop(L);
    EXPECT_EQ(RunScript("gone"), 0);
    EXPECT_EQ(Number("y"), 2);
    EXPECT_EQ(LoadScript("gone", false), 0);
    EXPECT_EQ(RunScript("never"), -1);
    EXPECT_EQ(lua_gettop(L), top);
}

TEST_F(ScriptCacheTest, ErrorsAreLoggedAndPopped) {
    quild_test::WriteFile(Path("bad.lua"), "x = = 1");
    quild_test::WriteFile(Path("fails.lua"), "error('run time')");
    int top = lua_gettop(L);
    EXPECT_GT(RunScript("bad"), 0);
    EXPECT_GT(RunScript("fails"), 0);
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_TRUE(Logged("[ERROR] - SCRIPT bad: \r\n "));
    EXPECT_TRUE(Logged("run time"));
    EXPECT_EQ(g_compiled_scripts.Find("bad"), nullptr);
}

TEST_F(ScriptCacheTest, CacheFileBytes) {
    std::vector<uint8_t> bytes;
    BuildScriptCache(nullptr, bytes);
    EXPECT_EQ(bytes, std::vector<uint8_t>(8, 0));

    quild_test::WriteFile(Path("one.lua"), "a = 1");
    quild_test::WriteFile(Path("two.lua"), "b = 2");
    ASSERT_EQ(RunScript("one"), 0);
    ASSERT_EQ(RunScript("two"), 0);
    ASSERT_TRUE(SaveScriptCache());
    std::string file = quild_test::ReadFile(Path("main.bin"));
    const CompiledScript* one = g_compiled_scripts.head;
    const CompiledScript* two = one->next;
    size_t at = 4;
    EXPECT_EQ(U32(file, at), Crc32Register("a = 1", 5));
    EXPECT_EQ(U32(file, at + 4), one->chunk->size());
    EXPECT_EQ(file.substr(at + 8, 4), std::string("\x03one", 4));
    at += 12;
    EXPECT_EQ(U32(file, at), Crc32Register("b = 2", 5));
    EXPECT_EQ(file.substr(at + 8, 4), std::string("\x03two", 4));
    at += 12;
    EXPECT_EQ(U32(file, at), 0u);
    at += 4;
    EXPECT_EQ(file.substr(at), std::string(one->chunk->begin(), one->chunk->end()) +
                                   std::string(two->chunk->begin(), two->chunk->end()));
    // The check word is the standard CRC-32 of the last chunk alone.
    uint32_t standard = uint32_t(crc32(0, two->chunk->data(), uInt(two->chunk->size())));
    EXPECT_EQ(U32(file, 0), standard);

    // Read back, the cache runs without the sources.
    std::remove(Path("one.lua").c_str());
    g_compiled_scripts.Clear();
    LoadScriptCache();
    ASSERT_NE(g_compiled_scripts.Find("two"), nullptr);
    Lua("a = nil");
    EXPECT_EQ(RunScript("one"), 0);
    EXPECT_EQ(Number("a"), 1);
}

TEST_F(ScriptCacheTest, UnwritableRecordsAreLeftOut) {
    CompiledScript* zero = g_compiled_scripts.FindOrAdd("zero");
    zero->checksum = 0;
    zero->chunk = MakeChunkBytes(Bytes(StrippedDump("z = 1")));
    std::string long_name(300, 'n');
    CompiledScript* longer = g_compiled_scripts.FindOrAdd(long_name.c_str());
    longer->checksum = 5;
    longer->chunk = zero->chunk;
    std::vector<uint8_t> bytes;
    BuildScriptCache(g_compiled_scripts.head, bytes);
    EXPECT_EQ(bytes, std::vector<uint8_t>(8, 0));
}

TEST_F(ScriptCacheTest, ChunkOfAnotherBuildFallsBackToItsSource) {
    quild_test::WriteFile(Path("fb.lua"), "fb = 'source'");
    std::string chunk = StrippedDump("fb = 'cache'");
    chunk[8] = 4;  // dumped by a 32-bit build
    CompiledScript* r = g_compiled_scripts.FindOrAdd("fb");
    r->checksum = Crc32Register("fb = 'source'", 13);
    r->chunk = MakeChunkBytes(Bytes(chunk));
    EXPECT_EQ(RunScript("fb"), 0);
    EXPECT_EQ(Text("fb"), "source");
    EXPECT_TRUE(CheckLuaChunk(r->chunk->data(), r->chunk->size()));  // replaced by a fresh chunk
}

TEST_F(ScriptCacheTest, ASourceFileHoldingACompiledChunkRunsOnlyWhenItChecks) {
    std::string chunk = StrippedDump("cc = 'compiled'");
    quild_test::WriteFile(Path("cc.lua"), chunk);
    EXPECT_EQ(RunScript("cc"), 0);
    EXPECT_EQ(Text("cc"), "compiled");
    // The same chunk cut short, or of another build, is refused with one
    // line; Lua never sees it.
    for (std::string bad : {chunk.substr(0, chunk.size() - 3), chunk}) {
        if (bad.size() == chunk.size()) bad[8] = 4;
        quild_test::WriteFile(Path("bad.lua"), bad);
        EXPECT_NE(RunScript("bad"), 0);
        EXPECT_TRUE(Logged("bad is a compiled chunk that does not fit this build"));
    }
    // The refusal's message is pushed protected: a finalizer raising at its
    // collection step is logged, and the message is none.
    ArmRaisingFinalizers();
    EXPECT_NE(RunScript("bad"), 0);
    DisarmFinalizers();
    EXPECT_EQ(Number("raised"), 1);
    EXPECT_TRUE(Logged("[LUA RT ERROR in script loading] : armed"));
    EXPECT_TRUE(Logged("[ERROR] - SCRIPT bad: \r\n (error object is not a string)"));
    // Text that merely mentions the signature later on is a source.
    quild_test::WriteFile(Path("text.lua"), "t = '\27Lua'");
    EXPECT_EQ(RunScript("text"), 0);
}

TEST_F(ScriptCacheTest, DamagedCacheFilesAreIgnored) {
    std::string good_chunk = StrippedDump("q = 1");
    auto header = [](uint32_t checksum, uint32_t size, const std::string& name) {
        std::string h;
        for (uint32_t v : {checksum, size})
            for (int i = 0; i < 4; ++i) h += char(v >> (8 * i));
        return h + char(name.size()) + name;
    };
    const std::string zero(4, '\0');
    const std::string cases[] = {
        "\x01\x02",                                                           // no check word
        zero + header(7, 1000, "q"),                                          // no end of headers
        zero + header(7, 0xFFFFFFF0u, "q") + zero,                            // a chunk past the end
        zero + header(7, uint32_t(good_chunk.size()), "q") + zero + "xx",     // short chunk bytes
        zero + std::string("\x07\0\0\0\x05\0\0\0\x09q", 10),                  // name past the end
    };
    for (const std::string& c : cases) {
        quild_test::WriteFile(Path("main.bin"), c);
        LoadScriptCache();
        EXPECT_EQ(g_compiled_scripts.head, nullptr);
    }
    EXPECT_TRUE(Logged("main.bin is damaged"));
    // A good file with one chunk from another build keeps the good record.
    std::string bad_chunk = good_chunk;
    bad_chunk[8] = 4;
    quild_test::WriteFile(Path("main.bin"), zero + header(7, uint32_t(good_chunk.size()), "good") +
                                                header(8, uint32_t(bad_chunk.size()), "bad") + zero +
                                                good_chunk + bad_chunk);
    LoadScriptCache();
    EXPECT_NE(g_compiled_scripts.Find("good"), nullptr);
    EXPECT_EQ(g_compiled_scripts.Find("bad"), nullptr);
}

TEST_F(ScriptCacheTest, ScriptFunctions) {
    quild_test::WriteFile(Path("scripts/s1.lua"), "s1 = (s1 or 0) + 1");
    Lua("DIR_SCRIPTS = 'scripts'");
    Lua("run('s1')");
    EXPECT_EQ(Number("s1"), 1);
    Lua("runscript('scripts/s1')");
    EXPECT_EQ(Number("s1"), 2);
    quild_test::WriteFile(Path("plain.txt"), "plain = 5");
    Lua("runscript('plain.txt', 'FILE')");
    EXPECT_EQ(Number("plain"), 5);
    EXPECT_EQ(g_compiled_scripts.Find("plain.txt"), nullptr);

    quild_test::WriteFile(Path("d.lua"), "d = 1");
    Lua("dumpscript('d')");
    EXPECT_NE(g_compiled_scripts.Find("d"), nullptr);
    Lua("assert(d == nil)");  // compiled, not run
    Lua("dumpscript('missing')");
    EXPECT_TRUE(Logged("[ERROR] - SCRIPT missing: \r\n NOT FOUND"));

    quild_test::WriteFile(Path("dir.v2/a.b.lua"), "compiled = 9");
    Lua("ok = compilescript('dir.v2/a.b.lua')");
    Lua("assert(ok == true)");
    std::string bin = quild_test::ReadFile(Path("dir.v2/a.bin"));
    ASSERT_FALSE(bin.empty());
    EXPECT_TRUE(CheckLuaChunk(reinterpret_cast<const uint8_t*>(bin.data()), bin.size()));
    Lua("assert(loadstring(io.open('dir.v2/a.bin', 'rb'):read('*a')))(); assert(compiled == 9)");
    Lua("assert(compilescript('missing.lua') == nil)");

    Lua("flushscripts()");
    std::string cache = quild_test::ReadFile(Path("main.bin"));
    EXPECT_GT(cache.size(), 8u);
}

}  // namespace
