#pragma once
// Running scripts through the cache of compiled chunks, and the cache file
// "main.bin".
//
// A script is a Lua source named without ".lua". Its source is read
// (packages first) and checksummed; when the cache holds a chunk of the same
// name and checksum, the chunk runs instead of compiling the source again.
// Fresh compilations are dumped without debug information into the cache.
//
// "main.bin" (little-endian u32 unless said): check word (standard CRC-32 of
// the last record's chunk, 0 with no records, not tested on reading); per
// record {source checksum (never 0), chunk size, u8 name length, name}; a 0
// word; then the chunks in record order.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <lua.h>
}

class Stream;

// A chunk's bytes, never changed in place: a new chunk replaces the
// pointer. Lua's parser may run a collection step, and a finalizer there
// may remove or replace the record being loaded, so a load holds the bytes
// it reads.
using ChunkBytes = std::shared_ptr<const std::vector<uint8_t>>;
ChunkBytes MakeChunkBytes(std::vector<uint8_t> bytes);

struct CompiledScript {
    CompiledScript* next = nullptr;
    const char* name = nullptr;  // interned in the common pool, without ".lua"
    ChunkBytes chunk = MakeChunkBytes({});
    uint32_t checksum = 0;  // register CRC-32 of the source
    bool checked = false;   // the chunk is known to fit this build
};

class CompiledScriptList {
public:
    CompiledScript* head = nullptr;
    CompiledScript* tail = nullptr;

    // Case-insensitive lookup.
    CompiledScript* Find(const char* name) const;
    CompiledScript* FindOrAdd(const char* name);
    // Unlinks and frees the chunk of that name (any case); false when none.
    bool Remove(const char* name);
    void Clear();
    ~CompiledScriptList() { Clear(); }
};

extern CompiledScriptList g_compiled_scripts;
// The last dump (LoadScript and compilescript).
extern std::vector<uint8_t> g_dump_buffer;

// -1 not found, 0 success, else the Lua status with the message on the
// stack. With run set the script's results stay on the stack; without, a
// freshly compiled function does.
int LoadScript(const char* name, bool run);
// Compiles a script's text into a function on the stack (status 0), or
// pushes the message. A text that is really a compiled chunk (it starts
// with ESC "Lua") loads only when it checks like a cached chunk.
int LoadScriptText(lua_State* state, const void* data, size_t size, const char* name);

// LoadScript with run, logged; the stack is left as it was.
int RunScript(const char* name);

// The lua_Writer of every dump: appends to g_dump_buffer.
int WriteDumpedChunk(lua_State* state, const void* block, size_t size, void* user);
// Dumps the function on top of the stack without debug information into
// g_dump_buffer. False when the dump fails.
bool DumpStrippedFunction(lua_State* state);

// Reads "main.bin" (packages first) into the list; a file that fails a check
// is logged and ignored.
void LoadScriptCache();
// Writes "main.bin" in the current folder (safely, through a temporary file).
bool SaveScriptCache();
// The bytes of the cache file for the list starting at first.
void BuildScriptCache(const CompiledScript* first, std::vector<uint8_t>& out);
void WriteScriptCache(Stream* stream, const CompiledScript* first);

struct ScriptCacheRecord {
    std::string name;
    uint32_t checksum = 0;
    std::vector<uint8_t> chunk;
};
// Parses cache bytes; false (records empty) when any check fails. Records
// whose chunk does not check are dropped with a log line.
bool ParseScriptCache(const uint8_t* data, size_t size, std::vector<ScriptCacheRecord>& records);
