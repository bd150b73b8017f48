#pragma once
// Game texts: named strings (class word "text"), and the game-text files
// that hold whole sets of them: per text a line "<name>", its lines, and a
// blank line pair.
#include <cstddef>
#include <cstdint>

#include "base/object_list.h"
#include "script/object_model.h"

class StringPool;

class GameText : public EObject {
public:
    class GameText_Initializer : public EObject_Initializer {
    public:
        GameText_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    GameText();

    const char* text = nullptr;  // interned in the game-text pool
};

// The pool of game-text names and texts. Only game texts point into it, so
// it is emptied once the last of them has been freed.
StringPool& GameTextStrings();

// Unlinks one text from its list and frees it: the one way a text leaves a
// list. It is gone from the list and its handle is stale at once; while
// engine work that may hold it is in progress its memory (and the pool's,
// with the last text) waits for that work to end.
void RemoveGameText(ObjectList<GameText>& texts, GameText* text);
// Frees every text of the list, each through RemoveGameText.
void FreeAllGameTexts(ObjectList<GameText>& texts);

// The largest game-text file read.
constexpr size_t kMaxGameTextFileBytes = 64u << 20;

// Fills the list from a game-text file (packages first, then the disk);
// texts are found by name, any case, or appended. False when the file is
// missing, unreadable or too large (the list is then untouched; the log
// names the file).
bool LoadGameTextFile(const char* path, ObjectList<GameText>& texts);
// The same over bytes in memory. Names are found through an index, so a
// load takes time in proportion to the file and the list.
void ParseGameTexts(const char* data, size_t size, ObjectList<GameText>& texts);
// Names compared by loads so far (a load compares about one a header).
size_t GameTextNamesCompared();
// Writes every text of the list, in order, replacing the file safely.
bool SaveGameTextFile(const char* path, const ObjectList<GameText>& texts);
