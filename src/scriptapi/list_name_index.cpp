#include "scriptapi/list_name_index.h"

#include <cctype>
#include <clocale>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "base/text.h"
#include "script/object_model.h"

namespace {

// Names fold as EqualsNoCase compares them: byte by byte, by the character
// type of the locale (a script may set one), which the indexes were built
// under.
std::string Folded(const char* name) {
    std::string key(name);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

std::string g_locale;  // LC_CTYPE when the indexes were built

bool LocaleChanged() {
    const char* now = std::setlocale(LC_CTYPE, nullptr);
    if (!now) now = "";
    if (g_locale == now) return false;
    g_locale = now;
    return true;
}

EObject* Next(const EObject* o) { return static_cast<EObject*>(o->list_next); }

bool Matches(const EObject* o, const char* class_word) { return !class_word || IsClass(o, class_word); }

struct NameIndex {
    std::unordered_map<std::string, void*> first;  // folded name: the handle of the first member that has it
    const void* head = nullptr;
    const void* tail = nullptr;
    bool built = false;
    int walks = 0;  // lookups that walked the list since it last changed
};

// A list changed between every lookup or two is walked, as cheap as its
// index would be to build; the third lookup in a row builds it.
constexpr int kWalksBeforeIndex = 2;

using IndexKey = std::pair<const void*, const char*>;  // the list, the class word
std::map<IndexKey, NameIndex> g_indexes;
uint64_t g_version = 0;  // ListNamesVersion when the indexes were last known true

void Build(NameIndex& index, EObject* head, EObject* tail, const char* class_word) {
    index.first.clear();
    uint64_t looked = 0;
    for (EObject* o = head; o; o = Next(o)) {
        ++looked;
        if (o->name && Matches(o, class_word)) index.first.emplace(Folded(o->name), o->Handle());
    }
    g_list_names_compared += looked;
    index.head = head;
    index.tail = tail;
    index.built = true;
}

EObject* Walk(EObject* head, const char* name, const char* class_word) {
    uint64_t looked = 0;
    for (EObject* o = head; o; o = Next(o)) {
        ++looked;
        if (o->name && EqualsNoCase(o->name, name) && Matches(o, class_word)) {
            g_list_names_compared += looked;
            return o;
        }
    }
    g_list_names_compared += looked;
    return nullptr;
}

}  // namespace

EObject* ListNameIndexFind(const void* list, EObject* head, EObject* tail, const char* name, const char* class_word) {
    if (!name) return nullptr;
    if (LocaleChanged() || g_version != ListNamesVersion()) {
        g_indexes.clear();
        g_version = ListNamesVersion();
    }
    NameIndex& index = g_indexes[{list, class_word}];
    // A list whose ends moved was changed: it is read again.
    if (index.built && (index.head != head || index.tail != tail)) index = NameIndex();
    if (!index.built) {
        if (index.walks < kWalksBeforeIndex) {
            ++index.walks;
            return Walk(head, name, class_word);
        }
        Build(index, head, tail, class_word);
    }
    ++g_list_names_compared;
    const auto it = index.first.find(Folded(name));
    if (it == index.first.end()) return nullptr;
    EObject* o = ObjectFromHandle(it->second);
    if (o && o->name && EqualsNoCase(o->name, name)) return o;
    // Not what was indexed: the walk answers, and the list is read again
    // next time.
    g_indexes.erase({list, class_word});
    return Walk(head, name, class_word);
}

void ListNameIndexAppended(const void* list, ListEnds before, ListEnds after, EObject* object, uint64_t version_before) {
    if (version_before != g_version || ListNamesVersion() != version_before + 1) return;
    for (auto it = g_indexes.lower_bound({list, nullptr}); it != g_indexes.end() && it->first.first == list;) {
        NameIndex& index = it->second;
        if (!index.built) {
            ++it;
            continue;
        }
        // An index of other ends than the list had is not extended.
        if (index.head != before.head || index.tail != before.tail) {
            it = g_indexes.erase(it);
            continue;
        }
        if (object->name && Matches(object, it->first.second))
            index.first.emplace(Folded(object->name), object->Handle());
        index.head = after.head;
        index.tail = after.tail;
        ++it;
    }
    g_version = ListNamesVersion();
}

void DropListNameIndexes() {
    g_indexes.clear();
    g_version = ListNamesVersion();
}
