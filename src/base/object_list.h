#pragma once
// The intrusive singly linked list {head, tail} in which every kind of named
// object lives, and the record chains (first word: next record).
//
// A member type T has a link member `list_next` (a pointer to T or to a base
// of T) and a `name` member (const char*, an interned text or null). An
// object is in at most one list.
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "base/text.h"

inline uint64_t g_list_names_version = 0;
inline void NoteListNamesChanged() { ++g_list_names_version; }
inline uint64_t ListNamesVersion() { return g_list_names_version; }

template <class T>
struct ObjectList {
    T* head = nullptr;
    T* tail = nullptr;
};

template <class T>
inline T* ListNext(const T* obj) {
    return static_cast<T*>(obj->list_next);
}

template <class T>
void ListAppend(ObjectList<T>& list, T* obj) {
    if (!obj) return;
    NoteListNamesChanged();
    obj->list_next = nullptr;
    if (list.tail) list.tail->list_next = obj;
    else list.head = obj;
    list.tail = obj;
}

template <class T>
void ListRemove(ObjectList<T>& list, T* obj) {
    if (!obj || !list.head) return;
    NoteListNamesChanged();
    if (list.head == obj) {
        list.head = ListNext(obj);
        if (list.tail == obj) list.tail = nullptr;
        obj->list_next = nullptr;
        return;
    }
    for (T* prev = list.head; prev; prev = ListNext(prev)) {
        if (ListNext(prev) == obj) {
            prev->list_next = obj->list_next;
            if (list.tail == obj) list.tail = prev;
            obj->list_next = nullptr;
            return;
        }
    }
}

template <class T>
size_t ListCount(const ObjectList<T>& list) {
    size_t n = 0;
    for (T* o = list.head; o; o = ListNext(o)) ++n;
    return n;
}

template <class T>
int ListIndexOf(const ObjectList<T>& list, const T* obj) {
    int i = 0;
    for (T* o = list.head; o; o = ListNext(o), ++i)
        if (o == obj) return i;
    return -1;
}

// Members looked at by name lookups, walks and indexes alike (tests count
// the work a load does with it).
inline uint64_t g_list_names_compared = 0;

template <class T>
T* ListFindByName(const ObjectList<T>& list, const char* name) {
    if (!name) return nullptr;
    uint64_t looked = 0;
    T* found = nullptr;
    for (T* o = list.head; o; o = ListNext(o)) {
        ++looked;
        if (o->name && EqualsNoCase(o->name, name)) {
            found = o;
            break;
        }
    }
    g_list_names_compared += looked;
    return found;
}

// Reorders the members by name, ascending in byte order (a null name sorts
// first). Stable for equal names.
template <class T>
void ListSortByName(ObjectList<T>& list) {
    std::vector<T*> items;
    for (T* o = list.head; o; o = ListNext(o)) items.push_back(o);
    if (items.empty()) return;
    NoteListNamesChanged();
    auto less = [](const T* a, const T* b) {
        const char* na = a->name ? a->name : "";
        const char* nb = b->name ? b->name : "";
        return std::strcmp(na, nb) < 0;
    };
    // The selection exchange of the original keeps equal names in order only
    // by accident; a stable sort gives the same ascending order.
    for (size_t i = 1; i < items.size(); ++i) {
        T* v = items[i];
        size_t j = i;
        while (j > 0 && less(v, items[j - 1])) {
            items[j] = items[j - 1];
            --j;
        }
        items[j] = v;
    }
    list.head = items.front();
    for (size_t i = 0; i + 1 < items.size(); ++i) items[i]->list_next = items[i + 1];
    items.back()->list_next = nullptr;
    list.tail = items.back();
}

// A new object of the class (pooled, constructed) appended at the tail.
template <class T>
T* ListAppendNew(ObjectList<T>& list) {
    T* obj = new T();
    ListAppend(list, obj);
    return obj;
}

// The member of that name, or a new one appended and given the name (an
// interned text); null for a null name.
template <class T>
T* ListFindOrAdd(ObjectList<T>& list, const char* name) {
    if (!name) return nullptr;
    if (T* found = ListFindByName(list, name)) return found;
    T* obj = ListAppendNew(list);
    obj->name = name;
    NoteListNamesChanged();
    return obj;
}

// Record chains: each record's first member is `next`, and it has a `name`.
template <class R>
int ChainIndexOf(const R* chain, const R* record) {
    int i = 0;
    for (const R* r = chain; r; r = r->next, ++i)
        if (r == record) return i;
    return -1;
}

template <class R>
R* ChainFindByName(R* chain, const char* name) {
    if (!name) return nullptr;
    for (R* r = chain; r; r = r->next)
        if (r->name && EqualsNoCase(r->name, name)) return r;
    return nullptr;
}
