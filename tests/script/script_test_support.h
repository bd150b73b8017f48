#pragma once
// Shared pieces of the script tests: a fresh Lua state per test, captured
// log lines, and running in a temporary current folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "base/log.h"
#include "base/memory.h"
#include "base/object_list.h"
#include "script/lua_host.h"
#include "support/test_support.h"

namespace script_test {

// Deletes every member of an object list (destructors run) and empties it.
// Each member leaves the list before it is freed: a destructor may walk the
// engine's lists (a hotspot letting go of its parent and children).
template <class T>
void DeleteAll(ObjectList<T>& list) {
    while (T* o = list.head) {
        list.head = ListNext(o);
        if (!list.head) list.tail = nullptr;
        o->list_next = nullptr;
        delete o;
    }
}

inline std::vector<std::string>& LogLines() {
    static std::vector<std::string> lines;
    return lines;
}

// Whether a pooled block freed (and not handed out again) still holds the
// pool's fill: nothing wrote into it after it was freed. Under the
// sanitizer a freed block is poisoned, and such a write is reported where
// it happens.
inline bool FreedBlockUntouched(const void* block, size_t size) {
    if (!ObjectPool::IsFreed(block, size)) return false;
#if !defined(QUILD_POOL_POISON)
    const auto* bytes = static_cast<const uint8_t*>(block);
    for (size_t i = sizeof(pool_detail::FreeBlock); i < size; ++i)
        if (bytes[i] != kPoolFillByte) return false;
#endif
    return true;
}

inline bool Logged(const std::string& part) {
    for (const std::string& l : LogLines())
        if (l.find(part) != std::string::npos) return true;
    return false;
}

// A fresh state, the log captured, and the current folder a temporary one
// (restored at the end).
class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        LogLines().clear();
        SetLogSink([](const char* line, unsigned) { LogLines().push_back(line); });
        char cwd[4096];
        old_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        ScriptShutdown();
        CreateScriptState();
        L = ScriptState();
    }
    void TearDown() override {
        ScriptShutdown();
        SetLogSink(nullptr);
        ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
    }
    // Runs Lua text that must succeed; a failure shows the error logged.
    void Lua(const char* text) {
        ASSERT_EQ(ScriptRun(text), 0) << text << "\n" << (LogLines().empty() ? "" : LogLines().back());
    }
    double Number(const char* global) {
        lua_getglobal(L, global);
        double v = lua_tonumber(L, -1);
        lua_pop(L, 1);
        return v;
    }
    std::string Text(const char* global) {
        lua_getglobal(L, global);
        const char* s = lua_tostring(L, -1);
        std::string v = s ? s : "(nil)";
        lua_pop(L, 1);
        return v;
    }
    std::string Path(const std::string& name) const { return dir_.file(name); }
    // Finalizers that raise at the engine's next allocation check: with no
    // pause each check runs a whole collection, and every finalizer leaves
    // another behind. An engine push outside a protected call would take the
    // error to Lua's panic, which ends the program; a protected one logs
    // "armed". The global "raised" counts the errors.
    void ArmRaisingFinalizers() {
        DisarmFinalizers();
        Lua("raised = 0 if not storm then storm = true local function f() getmetatable(newproxy(true)).__gc = f "
            "if armed then raised = raised + 1 error('armed', 0) end end f() end "
            "collectgarbage('setstepmul', 1e6) collectgarbage('setpause', 0) collectgarbage()");
        lua_pushboolean(L, 1);
        lua_setglobal(L, "armed");
    }
    // fill(true) sets Lua's memory ceiling to half of what it holds (and
    // meets it once, so the log line is written now), fill() takes it away;
    // heap() is the engine's live heap in bytes, which a failing call must
    // leave as it was (a copy left behind by a push that raised is a leak in
    // any build).
    void RegisterCeilingFunctions() {
        lua_register(L, "fill", [](lua_State* L) {
            SetScriptMemoryCeiling(lua_toboolean(L, 1) ? ScriptMemoryInUse() / 2 : 0);
            if (lua_toboolean(L, 1)) {
                EXPECT_EQ(ScriptAllocator(nullptr, nullptr, 0, ScriptMemoryCeiling()), nullptr);
            }
            return 0;
        });
        lua_register(L, "heap", [](lua_State* L) {
            lua_pushnumber(L, lua_Number(MemTotalAllocated()));
            return 1;
        });
    }
    void DisarmFinalizers() {
        lua_pushnil(L);
        lua_setglobal(L, "armed");
        Lua("collectgarbage('setpause', 200) collectgarbage('setstepmul', 200)");
    }

    quild_test::TempDir dir_;
    std::string old_cwd_;
    lua_State* L = nullptr;
};

}  // namespace script_test
