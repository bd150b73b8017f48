#include "script/script_cache.h"

#include <cstring>

extern "C" {
#include <lauxlib.h>
}

#include "base/byte_stream.h"
#include "base/crc32.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "base/object_list.h"
#include "base/string_pool.h"
#include "base/stream.h"
#include "script/lua_chunk.h"
#include "script/lua_host.h"
#include "script/script_watch.h"

CompiledScriptList g_compiled_scripts;
std::vector<uint8_t> g_dump_buffer;

namespace {

constexpr size_t kDumpReserve = 65536;
constexpr size_t kMaxNameLength = 255;

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// Cache records that the file can hold: a checksum of 0 would end the
// header list and a name is at most 255 bytes.
bool Writable(const CompiledScript* r) {
    size_t n = r->name ? std::strlen(r->name) : 0;
    return r->checksum != 0 && n > 0 && n <= kMaxNameLength;
}

int PushText(lua_State* L, void* text) {
    lua_pushstring(L, static_cast<const char*>(text));
    return 1;
}

// Pushes a failure's message. Protected: outside a script call the push
// may run a collection step; should it fail, the message is nil.
void PushFailure(lua_State* L, const std::string& text) {
    if (ScriptPushProtected(L, PushText, const_cast<char*>(text.c_str()), "script loading") != 1) lua_pushnil(L);
}

// Loads a cached chunk; checked first, so a chunk of another build is
// refused before Lua sees it. Status 0 leaves the function on the stack.
// The record may be gone when the load returns: the load holds its bytes,
// and its name is interned for good.
int LoadChunk(lua_State* L, CompiledScript* r) {
    const ChunkBytes chunk = r->chunk;
    if (!r->checked && !CheckLuaChunk(chunk->data(), chunk->size())) {
        PushFailure(L, std::string("cached chunk of ") + (r->name ? r->name : "?") + " does not fit this build");
        return LUA_ERRSYNTAX;
    }
    r->checked = true;
    return luaL_loadbuffer(L, reinterpret_cast<const char*>(chunk->data()), chunk->size(), r->name);
}

int RunCached(lua_State* L, CompiledScript* r, bool run) {
    if (!run) return 0;
    int status = LoadChunk(L, r);
    if (status != 0) return status;
    return ScriptPcall(L, 0, LUA_MULTRET);
}

}  // namespace

ChunkBytes MakeChunkBytes(std::vector<uint8_t> bytes) {
    return std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

CompiledScript* CompiledScriptList::Find(const char* name) const {
    return ChainFindByName(head, name);
}

CompiledScript* CompiledScriptList::FindOrAdd(const char* name) {
    if (CompiledScript* r = Find(name)) return r;
    CompiledScript* r = new CompiledScript;
    r->name = CommonStrings().Intern(name ? name : "");
    if (tail)
        tail->next = r;
    else
        head = r;
    tail = r;
    return r;
}

bool CompiledScriptList::Remove(const char* name) {
    CompiledScript* r = Find(name);
    if (!r) return false;
    CompiledScript* prev = nullptr;
    for (CompiledScript* p = head; p != r; p = p->next) prev = p;
    (prev ? prev->next : head) = r->next;
    if (tail == r) tail = prev;
    delete r;
    return true;
}

void CompiledScriptList::Clear() {
    while (head) {
        CompiledScript* next = head->next;
        delete head;
        head = next;
    }
    tail = nullptr;
}

int WriteDumpedChunk(lua_State*, const void* block, size_t size, void*) {
    const uint8_t* p = static_cast<const uint8_t*>(block);
    g_dump_buffer.insert(g_dump_buffer.end(), p, p + size);
    return 0;
}

bool DumpStrippedFunction(lua_State* L) {
    std::vector<uint8_t> full;
    g_dump_buffer.clear();
    g_dump_buffer.reserve(kDumpReserve);
    if (lua_dump(L, WriteDumpedChunk, nullptr) != 0) return false;
    full.swap(g_dump_buffer);
    if (!StripLuaChunk(full.data(), full.size(), g_dump_buffer)) {
        LogPrintf("[ERROR] - SCRIPT : dumped chunk could not be stripped");
        return false;
    }
    return true;
}

int LoadScriptText(lua_State* L, const void* data, size_t size, const char* name) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (size > 0 && bytes[0] == LUA_SIGNATURE[0] && !CheckLuaChunk(bytes, size)) {
        PushFailure(L, std::string(name ? name : "?") + " is a compiled chunk that does not fit this build");
        return LUA_ERRSYNTAX;
    }
    const int status = luaL_loadbuffer(L, static_cast<const char*>(data), size, name);  // its collection step may fail
    return status;
}

int LoadScript(const char* name, bool run) {
    lua_State* L = ScriptState();
    if (!L || !name || !*name) return -1;
    std::string path, record_name;
    size_t len = std::strlen(name);
    if (len >= 4 && std::strcmp(name + len - 4, ".lua") == 0) {
        path = name;
        record_name.assign(name, len - 4);
    } else {
        path = std::string(name) + ".lua";
        record_name = name;
    }
    CompiledScript* record = g_compiled_scripts.Find(record_name.c_str());

    FileStream file;
    if (!file.OpenRead(path.c_str())) {
        if (!record) return -1;
        return RunCached(L, record, run);  // the source is gone: the cache still runs
    }
    uint32_t size = file.Size();
    std::vector<uint8_t> source(size <= kMaxWholeFileSize ? size : 0);
    if (size > kMaxWholeFileSize || (size && file.Read(source.data(), size) != size)) {
        file.Close();
        PushFailure(L, "cannot read " + path);
        return LUA_ERRFILE;
    }
    file.Close();
    uint32_t checksum = Crc32Register(source.data(), source.size());

    if (record && record->checksum == checksum) {
        if (!run) return 0;
        int base = lua_gettop(L);
        int status = LoadChunk(L, record);
        if (status == 0) return ScriptPcall(L, 0, LUA_MULTRET);
        lua_settop(L, base);  // a chunk that does not load: compile the source instead
    }

    int status = LoadScriptText(L, source.data(), source.size(), record_name.c_str());
    if (status != 0) return status;
    if (DumpStrippedFunction(L)) {
        CompiledScript* r = g_compiled_scripts.FindOrAdd(record_name.c_str());
        r->chunk = MakeChunkBytes(g_dump_buffer);
        r->checksum = checksum;
        r->checked = true;
    }
    if (!run) return 0;
    return ScriptPcall(L, 0, LUA_MULTRET);
}

int RunScript(const char* name) {
    lua_State* L = ScriptState();
    if (!L) return -1;
    int base = lua_gettop(L);
    int result;
    {
        ScriptCallWatch watch(name ? name : "", name ? std::strlen(name) : 0);
        result = LoadScript(name, true);
    }
    if (result == 0) {
        LogPrintf("[SCRIPT] - %s", name);
        UpdateGameHandlerBits();
    } else if (result < 0) {
        std::string line = std::string("[WARNING] : SCRIPT NOT FOUND: ") + (name ? name : "") + "\n";
        DebugOutput(line.c_str());
    } else if (ScriptErrorWorthLogging()) {
        LogPrintf("[ERROR] - SCRIPT %s: \r\n %s", name, ScriptErrorText(L, -1).c_str());
    }
    lua_settop(L, base);
    return result;
}

bool ParseScriptCache(const uint8_t* data, size_t size, std::vector<ScriptCacheRecord>& records) {
    records.clear();
    size_t pos = 0;
    auto u32 = [&](uint32_t* v) {
        if (size - pos < 4) return false;
        *v = uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8 | uint32_t(data[pos + 2]) << 16 |
             uint32_t(data[pos + 3]) << 24;
        pos += 4;
        return true;
    };
    std::vector<uint32_t> sizes;
    uint32_t check_word, checksum;
    if (!data || !u32(&check_word)) return false;
    uint64_t total = 0;
    for (;;) {
        if (!u32(&checksum)) return false;
        if (checksum == 0) break;
        uint32_t chunk_size;
        if (!u32(&chunk_size) || pos >= size) return false;
        size_t name_length = data[pos++];
        if (name_length == 0 || size - pos < name_length) return false;
        total += chunk_size;
        if (total > size) return false;  // cannot fit: refuse before going on
        ScriptCacheRecord& r = records.emplace_back();
        r.name.assign(reinterpret_cast<const char*>(data + pos), name_length);
        r.checksum = checksum;
        sizes.push_back(chunk_size);
        pos += name_length;
    }
    if (total > size - pos) {
        records.clear();
        return false;
    }
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].chunk.assign(data + pos, data + pos + sizes[i]);
        pos += sizes[i];
    }
    // A chunk this build cannot load is dropped: its source compiles instead.
    for (size_t i = 0; i < records.size();) {
        const ScriptCacheRecord& r = records[i];
        if (!CheckLuaChunk(r.chunk.data(), r.chunk.size()) || r.name.find('\0') != std::string::npos) {
            LogPrintf("[WARNING] : main.bin: chunk of %s dropped", r.name.c_str());
            records.erase(records.begin() + i);
        } else {
            ++i;
        }
    }
    return true;
}

void LoadScriptCache() {
    g_compiled_scripts.Clear();
    ByteStream bytes;
    if (!bytes.LoadFile("main.bin") || bytes.Size() == 0) return;
    std::vector<ScriptCacheRecord> records;
    if (!ParseScriptCache(bytes.Data(), bytes.Size(), records)) {
        LogPrintf("[WARNING] : main.bin is damaged and was ignored; scripts compile from source");
        return;
    }
    for (ScriptCacheRecord& r : records) {
        CompiledScript* c = g_compiled_scripts.FindOrAdd(r.name.c_str());
        c->checksum = r.checksum;
        c->chunk = MakeChunkBytes(std::move(r.chunk));
        c->checked = true;  // checked while parsing
    }
}

void BuildScriptCache(const CompiledScript* first, std::vector<uint8_t>& out) {
    out.clear();
    PutU32(out, 0);
    for (const CompiledScript* r = first; r; r = r->next) {
        if (!Writable(r)) continue;
        size_t n = std::strlen(r->name);
        PutU32(out, r->checksum);
        PutU32(out, static_cast<uint32_t>(r->chunk->size()));
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), r->name, r->name + n);
    }
    PutU32(out, 0);
    uint32_t check = 0;
    for (const CompiledScript* r = first; r; r = r->next) {
        if (!Writable(r)) continue;
        out.insert(out.end(), r->chunk->begin(), r->chunk->end());
        check = ~Crc32Register(r->chunk->data(), r->chunk->size());
    }
    out[0] = uint8_t(check);
    out[1] = uint8_t(check >> 8);
    out[2] = uint8_t(check >> 16);
    out[3] = uint8_t(check >> 24);
}

void WriteScriptCache(Stream* stream, const CompiledScript* first) {
    if (!stream) return;
    std::vector<uint8_t> bytes;
    BuildScriptCache(first, bytes);
    stream->Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool SaveScriptCache() {
    std::vector<uint8_t> bytes;
    BuildScriptCache(g_compiled_scripts.head, bytes);
    for (const CompiledScript* r = g_compiled_scripts.head; r; r = r->next)
        if (!Writable(r)) LogPrintf("[WARNING] : main.bin: %s not written", r->name ? r->name : "");
    if (!WriteFileAtomic("main.bin", bytes.data(), bytes.size())) {
        LogPrintf("[ERROR] - main.bin could not be written");
        return false;
    }
    return true;
}
