#include "media/text/game_text.h"

#include <cstring>
#include <new>
#include <string>
#include <strings.h>
#include <unordered_map>

#include "base/file_stream.h"
#include "base/log.h"
#include "base/string_pool.h"
#include "script/engine_work.h"
#include "script/script_handles.h"

ClassDescriptor GameText::s_descriptor;

namespace {
GameText::GameText_Initializer g_text_initializer;
}  // namespace

GameText::GameText_Initializer::GameText_Initializer() : EObject_Initializer(&GameText::s_descriptor) {}

EObject* GameText::GameText_Initializer::Create() {
    void* block = GameText::operator new(sizeof(GameText));
    return block ? ::new (block) GameText() : nullptr;
}

void GameText::GameText_Initializer::RegisterProperties() {
    ClassDescriptor& d = GameText::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&EObject::name));
    d.AddProperty("text", kPropertyString, ObjectFieldOffset(&GameText::text));
    d.AddConstant("class", "text");
}

namespace {
// Texts made and not yet freed through RemoveGameText or FreeAllGameTexts;
// one freed any other way keeps the pool for good, which is safe.
size_t g_live_texts = 0;
}  // namespace

GameText::GameText() : EObject(&s_descriptor) { ++g_live_texts; }

StringPool& GameTextStrings() {
    static StringPool* pool = new StringPool();
    return *pool;
}

void RemoveGameText(ObjectList<GameText>& texts, GameText* text) {
    if (!text) return;
    ListRemove(texts, text);
    // Its script handle goes at once; the text and the shared strings it
    // reads stay while engine work that may hold it is in progress.
    UnregisterScriptHandle(text->Handle());
    ReleaseWhenFree(
        [](void* t) {
            delete static_cast<GameText*>(t);
            if (g_live_texts > 0 && --g_live_texts == 0) GameTextStrings().Clear();
        },
        text);
}

void FreeAllGameTexts(ObjectList<GameText>& texts) {
    while (GameText* t = texts.head) RemoveGameText(texts, t);
}

namespace {

// "</>", or "<" + at least three characters + ">" with no other brackets.
bool IsTagLine(const std::string& line) {
    if (line == "</>") return true;
    if (line.size() < 5 || line.front() != '<' || line.back() != '>') return false;
    return line.find_first_of("<>", 1) == line.size() - 1;
}

size_t g_names_compared = 0;

// Case-insensitive (as ListFindByName compares) hashing and equality of
// names; the equality counts its comparisons.
struct NoCaseHash {
    size_t operator()(const char* name) const {
        size_t h = 14695981039346656037ull;
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
            const unsigned char c = (*p >= 'A' && *p <= 'Z') ? static_cast<unsigned char>(*p - 'A' + 'a') : *p;
            h = (h ^ c) * 1099511628211ull;
        }
        return h;
    }
};
struct NoCaseEqual {
    bool operator()(const char* a, const char* b) const {
        ++g_names_compared;
        return strcasecmp(a, b) == 0;
    }
};

// The texts of a list by name, each name to the first text of the list
// that has it, as ListFindByName finds it. Built once a load: nothing but
// the load changes the list while it runs.
class TextsByName {
public:
    explicit TextsByName(ObjectList<GameText>& texts) : texts_(texts) {
        for (GameText* t = texts.head; t; t = ListNext(t))
            if (t->name) index_.emplace(t->name, t);  // a later text of a name is not found
    }
    // The text of the name, or a new one appended and given the name.
    GameText* FindOrAdd(const char* name) {
        if (!name) return nullptr;
        if (auto found = index_.find(name); found != index_.end()) return found->second;
        GameText* t = ListAppendNew(texts_);
        t->name = name;
        index_.emplace(name, t);
        return t;
    }

private:
    ObjectList<GameText>& texts_;
    std::unordered_map<const char*, GameText*, NoCaseHash, NoCaseEqual> index_;
};

}  // namespace

size_t GameTextNamesCompared() { return g_names_compared; }

void ParseGameTexts(const char* data, size_t size, ObjectList<GameText>& texts) {
    StringPool& pool = GameTextStrings();
    TextsByName by_name(texts);
    GameText* current = nullptr;
    std::string collected;
    std::string line;
    auto store = [&]() {
        if (current) current->text = pool.InternBytes(collected.data(), collected.size());
        collected.clear();
    };
    auto take_line = [&]() {
        if (line.empty()) return;  // empty lines are not kept
        if (IsTagLine(line)) {
            store();
            current = nullptr;
            if (line[1] != '/') {
                const char* name = pool.InternBytes(line.data() + 1, line.size() - 2);
                current = by_name.FindOrAdd(name);
            }
        } else if (current) {
            if (!collected.empty()) collected += '\n';
            collected += line;
        }
        line.clear();
    };
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n')
            take_line();
        else if (c != '\r' && c != '\t' && c != '\0')  // a zero would cut the text short
            line += c;
    }
    take_line();  // a last line without its line end still counts
    store();
}

bool LoadGameTextFile(const char* path, ObjectList<GameText>& texts) {
    if (!path || !*path) return false;
    FileStream file;
    if (!file.OpenRead(path)) {
        LogPrintf("[NOT FOUND] - GAME TEXT : %s", path);
        return false;
    }
    const uint32_t size = file.Size();
    if (size > kMaxGameTextFileBytes) {
        LogPrintf("[ERROR] - GAME TEXT : %s (%u bytes, more than a game-text file holds)", path, size);
        return false;
    }
    std::string bytes(size, '\0');
    if (size && file.Read(bytes.data(), size) != size) {
        LogPrintf("[ERROR] - GAME TEXT : %s (read failed)", path);
        return false;
    }
    ParseGameTexts(bytes.data(), bytes.size(), texts);
    return true;
}

bool SaveGameTextFile(const char* path, const ObjectList<GameText>& texts) {
    if (!path || !*path) return false;
    std::string out;
    for (const GameText* t = texts.head; t; t = ListNext(t)) {
        out += '<';
        if (t->name) out += t->name;
        out += ">\r\n";
        if (t->text) out += t->text;
        out += "\r\n\r\n";
    }
    if (!WriteFileAtomic(path, out.data(), out.size())) {
        LogPrintf("[ERROR] - GAME TEXT : can't write %s", path);
        return false;
    }
    return true;
}
