#pragma once
// Configuration variables: each is bound to one field of a global Lua table,
// read afresh on every Get and written back on every Set. The program holds
// no defaults; the scripts set the values. A missing table or field reads as
// 0, the empty text or false.
//
// Reads and writes are raw: no metamethod runs and nothing is allocated, so
// no Lua runs in the middle of the engine work that reads a variable. The
// values are plain fields a game sets in main.lua; a table that is not a
// plain table (a userdata) reads as missing.
//
// _LOCAL is also a path variable: stored resource paths carry the key
// "_LOCAL" in place of its value.
#include <string>

class ScriptVarBase {
public:
    ScriptVarBase(const char* table, const char* key, int type);
    virtual ~ScriptVarBase() = default;
    ScriptVarBase(const ScriptVarBase&) = delete;
    ScriptVarBase& operator=(const ScriptVarBase&) = delete;

    virtual void Load() = 0;
    virtual void Store() = 0;

    const char* table;
    const char* key;
    int type;  // the Lua type: 4 text, 3 number, 1 boolean
    ScriptVarBase* next;
    // Registry slots of the table name and key as Lua strings, made with
    // the state (PrepareScriptVarKeys).
    int table_ref = -2;
    int key_ref = -2;

protected:
    // Runs read(state) with the field table.key on top of the stack (nil
    // when missing); the stack is restored. read must not allocate in Lua.
    void ReadField(void (*read)(ScriptVarBase* var, void* state));
    // Runs push(state) to push the value, then sets table.key.
    void WriteField(void (*push)(ScriptVarBase* var, void* state));
};

class ScriptVarNumber : public ScriptVarBase {
public:
    ScriptVarNumber(const char* table, const char* key) : ScriptVarBase(table, key, 3) {}
    void Load() override;
    void Store() override;
    float Get();
    void Set(float v);
    float value = 0;
};

class ScriptVarString : public ScriptVarBase {
public:
    ScriptVarString(const char* table, const char* key) : ScriptVarBase(table, key, 4) {}
    void Load() override;
    void Store() override;
    // A copy of the field's text; empty when the field is not text.
    const std::string& Get();
    std::string value;
};

class ScriptVarBool : public ScriptVarBase {
public:
    ScriptVarBool(const char* table, const char* key) : ScriptVarBase(table, key, 1) {}
    void Load() override;
    void Store() override;
    bool Get();
    bool value = false;
};

ScriptVarBase* ScriptVarListHead();
struct lua_State;
// Makes the variables' keys in a new state (null: forgets them).
void PrepareScriptVarKeys(lua_State* L);
void ReloadAllScriptVars();

extern ScriptVarString g_dir_root;       // _G.DIR_ROOT
extern ScriptVarString g_dir_stages;     // _G.DIR_STAGES
extern ScriptVarString g_dir_scripts;    // _G.DIR_SCRIPTS
extern ScriptVarString g_local_path;     // _G._LOCAL
extern ScriptVarNumber g_display_fov;    // Display.fov
extern ScriptVarNumber g_display_aspect;  // Display.aspect
extern ScriptVarBool g_display_useshaders;  // Display.useshaders
extern ScriptVarNumber g_fade_fx_time;       // Gameplay.fadefxtime
extern ScriptVarNumber g_page_fx_time;       // Gameplay.pagefxtime
extern ScriptVarNumber g_walk_fx_time;       // Gameplay.walkfxtime
extern ScriptVarNumber g_dissolve_fx_time;   // Gameplay.dissolvefxtime

// Replaces each path-variable key in the text by the variable's value less a
// trailing separator. Null gives "".
std::string ExpandPathVariables(const char* text);
// Replaces each occurrence of a path variable's value (less a trailing
// separator) by its key. Empty values, or values that are only a
// separator, never match.
std::string ContractPathVariables(const char* text);
