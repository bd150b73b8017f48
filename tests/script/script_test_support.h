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
    // Runs Lua text that must succeed.
    void Lua(const char* text) { ASSERT_EQ(ScriptRun(text), 0) << text << (LogLines().empty() ? "" : LogLines().back()); }
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

    quild_test::TempDir dir_;
    std::string old_cwd_;
    lua_State* L = nullptr;
};

}  // namespace script_test
