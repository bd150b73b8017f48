#include "script/object_model.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "base/memory.h"
#include "base/object_list.h"
#include "base/stream.h"
#include "base/text.h"
#include "script/engine_work.h"
#include "script/script_handles.h"
#include "script/script_var.h"

namespace {

constinit ClassDescriptor* g_descriptors = nullptr;
ResourceNameFunction g_resource_name = nullptr;
// The size operator new allocated, picked up by the MObject constructor
// (objects are created on the main thread).
size_t g_pending_size = 0;

// The pool header's place in an object: the same for every class.
const size_t kHandleOffset = ObjectFieldOffset(&MObject::list_next);

// Fixed-point text as "%f" writes it, in the C locale whatever the process
// locale is.
std::string FixedText(double v) {
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0.000000");
}

std::string SixDecimals(float v) { return FixedText(v); }

// What a scene file keeps: six decimals when they read back as the same
// float, else as many as it takes (a unit direction needs about nine), so
// that a saved object loads back exactly as it was.
std::string SavedText(float v) {
    std::string text = FixedText(v);
    float back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    if (back == v) return text;
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : text;
}

const PropertyInfo* ClassProperty(const ClassDescriptor* d) {
    return d ? ChainFindByName(d->first, "class") : nullptr;
}

}  // namespace

std::string LuaEscaped(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        switch (*p) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default:
                if (*p < 32 || *p == 127) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\%03u", *p);
                    out += esc;
                } else {
                    out += char(*p);
                }
        }
    }
    return out;
}

MObject::MObject() : list_next(nullptr), size(g_pending_size), self(this) { g_pending_size = 0; }

void* MObject::operator new(size_t n) {
    void* block = ObjectPool::Alloc(n);
    g_pending_size = n;
    return block;
}

void MObject::operator delete(void* object, size_t n) {
    if (!object) return;
    // Objects may be freed without their destructors: the handle goes here.
    UnregisterScriptHandle(static_cast<uint8_t*>(object) + kHandleOffset);
    ObjectPool::Free(object, n);
}

EObject::EObject_Initializer::EObject_Initializer(ClassDescriptor* d) : descriptor(d) {
    if (!d) return;
    d->initializer = this;
    d->next = g_descriptors;
    g_descriptors = d;
}

namespace {
uint64_t g_last_serial = 0;
}  // namespace

EObject::EObject(ClassDescriptor* d) : descriptor(d), serial(++g_last_serial) {
    RegisterScriptHandle(Handle(), ScriptHandleKind::kObject);
}

EObject* HeldObject::Get() const { return IsLiveObject(object_) && object_->serial == serial_ ? object_ : nullptr; }

EObject::~EObject() { UnregisterScriptHandle(Handle()); }

void EObject::Save(Stream* stream) { WriteObjectProperties(this, stream); }

void DeleteObjectWhenFree(EObject* object) {
    if (!object) return;
    object->Withdraw();
    if (!ReleaseMustWait()) {
        delete object;
        return;
    }
    UnregisterScriptHandle(object->Handle());
    ReleaseWhenFree([](void* o) { delete static_cast<EObject*>(o); }, object);
}

ClassDescriptor* ClassDescriptorListHead() { return g_descriptors; }

bool IsLiveObject(const EObject* object) {
    if (!object) return false;
    auto address = reinterpret_cast<uintptr_t>(object) + kHandleOffset;
    return IsScriptHandle(reinterpret_cast<const void*>(address), ScriptHandleKind::kObject);
}

EObject* ReferencedObject(const EObject* holder, const PropertyInfo* property) {
    const void* field = reinterpret_cast<const uint8_t*>(holder) + property->offset;
    EObject* target = *static_cast<EObject* const*>(field);
    if (!IsLiveObject(target)) return nullptr;
    // Scenes are freed only with every reference into them cleared. Texts
    // and other objects are checked for their class too: a freed object's
    // block may hold another object since.
    if (property->type == kPropertyScene) return target;
    return IsClass(target, property->type == kPropertyDialog ? "text" : property->class_name) ? target : nullptr;
}

EObject* ObjectFromHandle(const void* handle) {
    if (!IsScriptHandle(handle, ScriptHandleKind::kObject)) return nullptr;
    auto* object = reinterpret_cast<MObject*>(const_cast<uint8_t*>(static_cast<const uint8_t*>(handle)) - kHandleOffset);
    return static_cast<EObject*>(object);
}

namespace {
PropertyInfo* NewProperty(ClassDescriptor* d, const char* key, int type) {
    auto* p = static_cast<PropertyInfo*>(ObjectPool::NewRecord(sizeof(PropertyInfo)));
    if (!p) return nullptr;
    p->name = key;
    p->type = type;
    p->next = nullptr;
    if (d->last)
        d->last->next = p;
    else
        d->first = p;
    d->last = p;
    return p;
}
}  // namespace

PropertyInfo* ClassDescriptor::AddProperty(const char* key, int type, size_t offset) {
    PropertyInfo* p = NewProperty(this, key, type);
    if (p) p->offset = offset;
    return p;
}

PropertyInfo* ClassDescriptor::AddConstant(const char* key, const char* constant) {
    PropertyInfo* p = NewProperty(this, key, kPropertyConstant);
    if (p) p->constant = constant;
    return p;
}

PropertyInfo* ClassDescriptor::AddObjectReference(const char* key, const char* class_name, size_t offset) {
    PropertyInfo* p = NewProperty(this, key, kPropertyObject);
    if (p) {
        p->class_name = class_name;
        p->offset = offset;
    }
    return p;
}

const char* ClassDescriptor::ClassWord() const {
    const PropertyInfo* p = ClassProperty(this);
    return p && p->type == kPropertyConstant ? p->constant : nullptr;
}

const char* PropertyTypeName(const PropertyInfo* p) {
    static const char* const kNames[] = {"number",    "boolean",   "number",    "string", "vector3",
                                         "color3",    "color",     "string",    "string", "resource1",
                                         "resource2", "resource3", "resource4", "scene",  "hex",
                                         "text",      "dialog",    "enum",      "list"};
    if (!p) return nullptr;
    if (p->type == kPropertyObject) return p->class_name;
    if (p->type >= 0 && p->type < int(std::size(kNames))) return kNames[p->type];
    return nullptr;
}

EObject* CreateObjectByClass(const char* word) {
    if (!word) return nullptr;
    for (ClassDescriptor* d = g_descriptors; d; d = d->next) {
        const char* w = d->ClassWord();
        if (w && std::strcmp(w, word) == 0 && d->initializer) return d->initializer->Create();
    }
    return nullptr;
}

bool IsClass(const EObject* object, const char* word) {
    if (!object || !word) return false;
    const char* w = object->descriptor ? object->descriptor->ClassWord() : nullptr;
    return w && std::strcmp(w, word) == 0;
}

void RegisterAllClassProperties() {
    // A class that has its properties already keeps them: registering twice
    // would double every key and shift the change bits.
    for (ClassDescriptor* d = g_descriptors; d; d = d->next)
        if (d->initializer && !d->first) d->initializer->RegisterProperties();
}

void FreeAllPropertyLists() {
    for (ClassDescriptor* d = g_descriptors; d; d = d->next) {
        while (d->first) {
            PropertyInfo* next = d->first->next;
            ObjectPool::DeleteRecord(d->first);
            d->first = next;
        }
        d->last = nullptr;
    }
}

int PropertyIndex(const ClassDescriptor* d, const PropertyInfo* property) {
    return d ? ChainIndexOf(static_cast<const PropertyInfo*>(d->first), property) : -1;
}

void NotifyPropertyChanged(EObject* object, const PropertyInfo* property) {
    if (!object) return;
    int i = PropertyIndex(object->descriptor, property);
    if (i >= 0) object->OnChanged(1u << (i % 32));
}

void SetResourceNameFunction(ResourceNameFunction fn) { g_resource_name = fn; }

const char* ResourceRecordName(const void* record) {
    return record && g_resource_name ? g_resource_name(record) : nullptr;
}

std::string PropertyFieldText(const void* field, int type, bool exact) {
    std::string (*text)(float) = exact ? SavedText : SixDecimals;
    switch (type) {
        case kPropertyVector:
        case kPropertyColor3: {
            const float* v = static_cast<const float*>(field);
            return text(v[0]) + "," + text(v[1]) + "," + text(v[2]);
        }
        case kPropertyFloat2: {
            const float* v = static_cast<const float*>(field);
            return text(v[0]) + "," + text(v[1]);
        }
        case kPropertyRect: {
            const int32_t* r = static_cast<const int32_t*>(field);
            return std::to_string(r[0]) + "," + std::to_string(r[1]) + "," + std::to_string(r[2]) + "," +
                   std::to_string(r[3]);
        }
        case kPropertyColor:
        case kPropertyHex: {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%x", *static_cast<const uint32_t*>(field));
            return hex;
        }
        default:
            return std::string();
    }
}

void WriteObjectProperties(EObject* object, Stream* stream) {
    if (!object || !stream) return;
    StreamPrintf(stream, "object{");
    int counter = 0;
    std::string entry;
    for (const PropertyInfo* p = object->descriptor ? object->descriptor->first : nullptr; p; p = p->next) {
        entry.clear();
        const void* field = object->Field(p);
        const std::string key = p->name ? p->name : "";
        auto text_entry = [&](const char* text) { entry = key + "=\"" + LuaEscaped(text) + "\","; };
        switch (p->type) {
            case kPropertyInt:
            case kPropertyEnum:
                entry = key + "=" + std::to_string(*static_cast<const int32_t*>(field)) + ",";
                break;
            case kPropertyBool:
                if (*static_cast<const bool*>(field)) entry = key + "=true,";
                break;
            case kPropertyFloat: {
                float v = *static_cast<const float*>(field);
                if (std::isnan(v)) {
                    entry = key + "=0/0,";
                } else if (std::isinf(v)) {
                    entry = key + (v > 0 ? "=1/0," : "=-1/0,");
                } else {
                    double t = std::trunc(double(v));
                    if (std::fabs(v - float(t)) < 0.000001f && t >= -2147483648.0 && t <= 2147483647.0)
                        entry = key + "=" + std::to_string(SaturateToInt(t)) + ",";
                    else
                        entry = key + "=" + SavedText(v) + ",";
                }
                break;
            }
            case kPropertyString:
            case kPropertyName:
            case kPropertyList:
                if (const char* s = *static_cast<const char* const*>(field)) text_entry(s);
                break;
            case kPropertyVector:
            case kPropertyColor3: {
                const float* v = static_cast<const float*>(field);
                if (v[0] != 0.0f || v[1] != 0.0f || v[2] != 0.0f) text_entry(PropertyFieldText(field, p->type, true).c_str());
                break;
            }
            case kPropertyColor:
            case kPropertyHex:
                if (*static_cast<const uint32_t*>(field) != 0) text_entry(PropertyFieldText(field, p->type).c_str());
                break;
            case kPropertyFloat2: {
                const float* v = static_cast<const float*>(field);
                if (v[0] != 0.0f || v[1] != 0.0f) text_entry(PropertyFieldText(field, p->type, true).c_str());
                break;
            }
            case kPropertyRect: {
                const int32_t* r = static_cast<const int32_t*>(field);
                if (r[0] || r[1] || r[2] || r[3]) text_entry(PropertyFieldText(field, p->type).c_str());
                break;
            }
            case kPropertyImage:
            case kPropertySound:
            case kPropertyMesh:
                if (const char* file = ResourceRecordName(*static_cast<const void* const*>(field)))
                    text_entry(ContractPathVariables(file).c_str());
                break;
            case kPropertyScene:
            case kPropertyDialog:
            case kPropertyObject: {
                const EObject* target = ReferencedObject(object, p);
                if (const char* n = target ? target->name : nullptr) text_entry(n);
                break;
            }
            case kPropertyText:
                break;
            case kPropertyConstant:
                text_entry(p->constant ? p->constant : "");
                break;
            default:
                break;
        }
        if (!entry.empty()) {
            stream->Write(entry.data(), static_cast<uint32_t>(entry.size()));
            counter += static_cast<int>(entry.size());
        }
        if (counter > 100) {
            StreamPrintf(stream, "\r\n");
            counter = 0;
        }
    }
    StreamPrintf(stream, "}\r\n");
}
