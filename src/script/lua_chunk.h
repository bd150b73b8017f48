#pragma once
// Lua 5.1 bytecode chunks as this build dumps them: checking a chunk before
// it is loaded, and stripping the debug information (source name, line
// table, local and upvalue names) from a dump. The shared Lua library only
// dumps with debug information; the stripped form written here is the one a
// stripping dump writes.
#include <cstddef>
#include <cstdint>
#include <vector>

// True when the chunk has this build's header (Lua 5.1, little-endian, 4-byte
// int, 8-byte size_t, 4-byte instructions, double numbers) and its
// functions parse to exactly its end.
bool CheckLuaChunk(const uint8_t* data, size_t size);

// Writes the chunk without debug information to out. False (out empty) when
// the chunk does not check.
bool StripLuaChunk(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
