#pragma once
// The object model of scene objects: MObject (a pooled object with a pool
// header), EObject (class descriptor, name, seven virtual operations), the
// per-class Initializers and ClassDescriptors, and PropertyInfo records that
// describe each class's scriptable and saved fields.
//
// Objects reach scripts as light userdata holding the address of their pool
// header; ObjectFromHandle accepts only handles of live objects.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

class Stream;
class ClassDescriptor;

class MObject {
public:
    // The pool header. list_next doubles as the object's link in its
    // ObjectList.
    MObject* list_next;
    size_t size;  // the size that was allocated (0 for an object not from the pool)
    void* self;

    MObject();
    virtual ~MObject() = default;
    MObject(const MObject&) = delete;
    MObject& operator=(const MObject&) = delete;

    // Zeroed blocks from the object pool.
    static void* operator new(size_t n);
    static void operator delete(void* object, size_t n);

    // The address scripts see.
    void* Handle() { return &list_next; }
};

// Property type codes; a reference to an object of another class uses
// kPropertyObject with the class's name.
enum PropertyType : int {
    kPropertyInt = 0,
    kPropertyBool = 1,
    kPropertyFloat = 2,
    kPropertyString = 3,
    kPropertyVector = 4,
    kPropertyColor3 = 5,
    kPropertyColor = 6,
    kPropertyFloat2 = 7,
    kPropertyRect = 8,
    kPropertyImage = 9,
    kPropertySound = 10,
    kPropertyMesh = 11,
    kPropertyName = 12,
    kPropertyScene = 13,
    kPropertyHex = 14,
    kPropertyText = 15,
    kPropertyDialog = 16,
    kPropertyEnum = 17,
    kPropertyList = 18,
    kPropertyConstant = 19,
    kPropertyObject = 0x100,
};

// A pooled record; its first three fields are the pool record header.
struct PropertyInfo {
    PropertyInfo* next;
    size_t size;
    void* self;
    const char* name;        // the key used by scripts and scene files
    int type;                // a PropertyType
    const char* class_name;  // kPropertyObject: the referenced class's name
    size_t offset;           // the field's byte offset in the object
    const char* constant;    // kPropertyConstant: the text
};

// The name ge_getpropertytype gives scripts; null for a constant.
const char* PropertyTypeName(const PropertyInfo* property);

class EObject : public MObject {
public:
    class EObject_Initializer {
    public:
        explicit EObject_Initializer(ClassDescriptor* descriptor);
        virtual ~EObject_Initializer() = default;
        virtual EObject* Create() = 0;
        virtual void RegisterProperties() = 0;
        ClassDescriptor* descriptor;
    };

    explicit EObject(ClassDescriptor* descriptor = nullptr);
    ~EObject() override;

    virtual void SetDefaults() {}
    // Bit i: the i-th property of the class (mod 32) was written by a script.
    virtual void OnChanged(uint32_t mask) { (void)mask; }
    virtual void Save(Stream* stream);
    virtual void Render() {}
    virtual void DrawEditorOverlay() {}
    virtual void EditorInput(int key, int wheel) {
        (void)key;
        (void)wheel;
    }
    // Called as the object is deleted, before a deletion that waits for
    // engine work keeps only its memory: ends at once what scripts reach of
    // it besides its own handle (the handles of its parts).
    virtual void Withdraw() {}

    // The field of a property in this object.
    void* Field(const PropertyInfo* property) { return reinterpret_cast<uint8_t*>(this) + property->offset; }

    ClassDescriptor* descriptor;
    const char* name = nullptr;  // interned
    // Drawing order in the render list (0: the default of the object's list).
    int32_t order = 0;
    // Never the same for two objects of a run, whatever address they had.
    const uint64_t serial;
};

// An object the engine holds across Lua, found again only while that very
// object is alive: one released meanwhile is gone (its handle is stale at
// once), and another made since at its address is not it.
class HeldObject {
public:
    HeldObject() = default;
    explicit HeldObject(EObject* object) : object_(object), serial_(object ? object->serial : 0) {}
    EObject* Get() const;

private:
    EObject* object_ = nullptr;
    uint64_t serial_ = 0;
};

class ClassDescriptor {
public:
    PropertyInfo* first = nullptr;
    PropertyInfo* last = nullptr;
    EObject::EObject_Initializer* initializer = nullptr;
    ClassDescriptor* next = nullptr;

    // Appends a record (pooled) at the tail; keys are static texts.
    PropertyInfo* AddProperty(const char* key, int type, size_t offset);
    PropertyInfo* AddConstant(const char* key, const char* constant);
    PropertyInfo* AddObjectReference(const char* key, const char* class_name, size_t offset);
    // The class word: the constant of the property "class", or null.
    const char* ClassWord() const;
};

// Byte offset of a field of an object class, for AddProperty:
// ObjectFieldOffset(&HotSpot::rect). Objects are single-inheritance chains
// from EObject, so a class and its bases share one address; the Itanium ABI
// represents a data member pointer as the member's offset.
template <class C, class F>
size_t ObjectFieldOffset(F C::*member) {
    static_assert(sizeof(member) == sizeof(ptrdiff_t));
    return static_cast<size_t>(std::bit_cast<ptrdiff_t>(member));
}

ClassDescriptor* ClassDescriptorListHead();

// Deletes the object, at once or, when Lua runs inside engine work that may
// hold it, once that work has ended (engine_work.h); its handle and those of
// its parts (Withdraw) are stale at once either way. The caller has taken it
// out of every list first.
void DeleteObjectWhenFree(EObject* object);

// The object of a script handle, when it is a live object; else null.
EObject* ObjectFromHandle(const void* handle);
// Whether a pointer held in a field still names a live object (the pointer
// is not dereferenced).
bool IsLiveObject(const EObject* object);
// The object a reference property holds (kPropertyScene, kPropertyDialog,
// kPropertyObject) while it is a live object (of the class the property
// names, for the last two); else null.
EObject* ReferencedObject(const EObject* holder, const PropertyInfo* property);

EObject* CreateObjectByClass(const char* word);
bool IsClass(const EObject* object, const char* word);
// Runs every Initializer's RegisterProperties once, in list order (classes
// that have their properties already are left alone).
void RegisterAllClassProperties();
void FreeAllPropertyLists();
// Index of a property in its class list, or -1.
int PropertyIndex(const ClassDescriptor* descriptor, const PropertyInfo* property);
// Calls OnChanged with the bit of the property (index mod 32).
void NotifyPropertyChanged(EObject* object, const PropertyInfo* property);

// A text as the body of a Lua string literal: quotes, backslashes and
// control characters escaped, so any name loads back as it was.
std::string LuaEscaped(const char* text);

// The text of a vector, colour-component, float-pair, rectangle, colour or
// hex field ("%f,%f,%f", "%f,%f", "%d,%d,%d,%d", "%x"), in the C locale;
// empty for other types. Exact: a float that six decimals would change is
// given with as many as it needs (what a scene file is written with).
std::string PropertyFieldText(const void* field, int type, bool exact = false);

// The default Save: "object{" + one entry per property + "}\r\n".
void WriteObjectProperties(EObject* object, Stream* stream);

// Resource records are saved by their file name; the resource manager
// provides it.
using ResourceNameFunction = const char* (*)(const void* record);
void SetResourceNameFunction(ResourceNameFunction fn);
// The name of a resource record by that function; null without one.
const char* ResourceRecordName(const void* record);
