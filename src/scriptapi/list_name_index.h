#pragma once
// Names a load looks up once per entry (a scene file's hotspots and their
// parents, patches, fonts, videos, points...): the first member of a list
// with the name, ignoring case, exactly as ListFindByName finds it, through
// an index of the list's names instead of a walk.
//
// The indexes hold while no list and no listed name changes
// (ListNamesVersion): any change drops them all, and the next lookup builds
// the index of its list again (a list that keeps changing between lookups
// is walked instead: the first two lookups after a change walk). A
// constructor that appends a member itself adds it to the indexes
// (ListNameIndexAppended), so a load of N entries reads each list a few
// times. Members are held by their handles and are checked alive and still
// of the name before they are given.
#include <cstdint>

#include "base/object_list.h"

class EObject;

// The first member of the list (read as a chain of EObjects from head) with
// the name and, for a class word, of that class; null for none or a null
// name.
EObject* ListNameIndexFind(const void* list, EObject* head, EObject* tail, const char* name, const char* class_word);
// The list's ends before and after one append of object, the one change to
// lists and names since version_before; after any other change the indexes
// are dropped at the next lookup.
struct ListEnds {
    EObject* head;
    EObject* tail;
};
void ListNameIndexAppended(const void* list, ListEnds before, ListEnds after, EObject* object, uint64_t version_before);
// Lets the indexes go (a load is over).
void DropListNameIndexes();

template <class T>
T* IndexedFindByName(const ObjectList<T>& list, const char* name, const char* class_word = nullptr) {
    return static_cast<T*>(ListNameIndexFind(&list, list.head, list.tail, name, class_word));
}

// Appends obj, named, to the list and to the list's indexes.
template <class T>
void IndexedAppend(ObjectList<T>& list, T* obj, const char* name) {
    const uint64_t version = ListNamesVersion();
    const ListEnds before{list.head, list.tail};
    obj->name = name;
    ListAppend(list, obj);
    ListNameIndexAppended(&list, before, {list.head, list.tail}, obj, version);
}
