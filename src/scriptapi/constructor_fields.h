#pragma once
// The keys of a scene-file constructor's table, read once, up front, on the
// Lua thread that called the constructor (a coroutine as well as the main
// state). Each key is read with the ordinary table lookup, so __index
// metamethods still answer for well-behaved tables, but inside a protected
// call: a metamethod that raises an error, yields or runs out of stack makes
// that key read as missing and never unwinds through the constructor. As no
// script code runs once the keys are read, the objects a constructor then
// finds or builds cannot be freed or changed under it by the table.
//
// The readers answer as the engine's table-field readers do: numbers for
// numeric values (numeric strings too), text for strings and numbers, a
// boolean only for true and false, a pointer only for light userdata.
//
// While the game is closing, protected calls run nothing: the keys read
// from then on are not missing, they were never read. A constructor that
// finds the game closing once its keys are read (Cut) builds nothing; the
// dispatcher raises the stop as it returns, so the scene file that called
// it ends there and counts as incomplete.
#include <cstdint>
#include <array>
#include <cstddef>
#include <initializer_list>

struct lua_State;

#include "script/script_watch.h"

class ConstructorFields {
public:
    // Reads the keys, in the order given, from the table at the stack index
    // (an absent or non-table value reads every key as missing). Values stay
    // anchored on L's stack above the arguments until the constructor
    // returns, so the texts handed out stay valid as long as the fields do.
    ConstructorFields(lua_State* L, int index, std::initializer_list<const char*> keys);
    ConstructorFields(const ConstructorFields&) = delete;
    ConstructorFields& operator=(const ConstructorFields&) = delete;

    int Int(const char* key, int fallback) const;
    float Number(const char* key, float fallback) const;
    // Interned in the common string pool when asked; otherwise Lua's text.
    const char* String(const char* key, const char* fallback, bool intern) const;
    // Only a field that is a string (not a number); null otherwise.
    const char* StringOnly(const char* key) const;
    int Bool(const char* key) const;  // 1, 0, or -1 when missing or not a boolean
    // A string read as hexadecimal ARGB; a number through its decimal text.
    uint32_t Color(const char* key, uint32_t fallback) const;
    void* Userdata(const char* key) const;

    // Whether the game is closing, so that keys could not be read (the
    // request may have come before the call or from a metamethod while the
    // keys were read).
    bool Cut() const { return ScriptStopPending(); }

    // What one key read; filled inside the protected lookup.
    struct Field {
        const char* key = nullptr;
        int type = -1;  // the Lua type; -1 while not read or when the read failed
        bool numeric = false;
        double number = 0;
        const char* text = nullptr;
        bool boolean = false;
        void* pointer = nullptr;
    };

    // The most keys a constructor reads.
    static constexpr size_t kMaxFields = 32;

private:
    const Field* Find(const char* key) const;
    // Held in place: an allocation error that Lua raises while the reader is
    // set up unwinds through here without anything to free.
    std::array<Field, kMaxFields> fields_;
    size_t count_ = 0;
};
