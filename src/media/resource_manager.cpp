#include "media/resource_manager.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/file_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/text.h"
#include "media/sound/sound.h"
#include "media/image/texture.h"
#include "script/engine_work.h"
#include "script/object_model.h"
#include "script/script_handles.h"

uint64_t g_resource_budget = kDefaultResourceBudget;
char g_current_directory[256];

namespace {

// The most missing names remembered at once.
constexpr size_t kMaxReportedMissing = 4096;

// Sounds: decoded whole into a buffer, or bound to a stream channel.
const ResourceKindOps kSoundOps = {
    "the sound device",
    []() -> void* { return new Sound; },
    [](void* o, const ResourceRecord& r) {
        return static_cast<Sound*>(o)->Load(r.path, (r.flags & kSound3D) != 0);
    },
    nullptr,
    [](void* o, const ResourceRecord& r) {
        return static_cast<Sound*>(o)->BindStream(r.flags >> kSoundChannelShift, r.path);
    },
    [](void* o) { return static_cast<Sound*>(o)->size; },
    [](void* o) { delete static_cast<Sound*>(o); },
};

// Videos and meshes are filled in by their own code when it is linked in.
const ResourceKindOps* g_ops[4] = {&kTextureResourceOps, &kSoundOps, nullptr, nullptr};
void* g_shared_video_player = nullptr;

int KindIndex(uint32_t type) {
    switch (type) {
        case kResourceImage:
            return 0;
        case kResourceSound:
            return 1;
        case kResourceVideo:
            return 2;
        case kResourceMesh:
            return 3;
        default:
            return -1;
    }
}

const ResourceKindOps* OpsFor(uint32_t type) {
    int i = KindIndex(type);
    return i < 0 ? nullptr : g_ops[i];
}

const char* KindName(uint32_t type) {
    switch (type) {
        case kResourceImage:
            return "IMAGE";
        case kResourceSound:
            return "SOUND";
        case kResourceVideo:
            return "VIDEO";
        default:
            return "MESH";
    }
}

// Resource names are matched in any case: A-Z lowered, other bytes as
// they are.
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

void LowerInto(const char* text, std::string& out) {
    out.assign(text);
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
}

// The first of name + each extension that exists, or empty.
std::string FirstExisting(const char* name, std::initializer_list<const char*> extensions) {
    std::string path;
    for (const char* ext : extensions) {
        path.assign(name).append(ext);
        if (FileExists(path.c_str())) return path;
    }
    return std::string();
}

bool EndsWithNoCase(const char* text, const char* tail) {
    size_t n = std::strlen(text), m = std::strlen(tail);
    return n >= m && EqualsNoCase(text + n - m, tail);
}

// Logs that a kind's code is missing; the record counts as tried, so the
// line is written once.
void LogMissing(ResourceRecord* r, const ResourceKindOps* ops) {
    r->flags |= kResourceLoadTried;
    LogPrintf("[ERROR] - %s : %s (%s is not linked in)", KindName(r->type), r->name,
              ops && ops->what ? ops->what : "its loader");
}

void RecordCurrentDirectory() {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
    std::strncpy(g_current_directory, cwd, sizeof g_current_directory - 1);
    g_current_directory[sizeof g_current_directory - 1] = 0;
    for (char* c = g_current_directory; *c; ++c)
        if (*c == '\\') *c = '/';
}

// Built at start, like the rest of the engine's managers. Saved objects
// name their resources as they were declared.
// A record that is gone (freed by Clear) has no name.
const bool g_resources_built = (Resources(), SetResourceNameFunction([](const void* record) -> const char* {
                                    return IsScriptHandle(record, ScriptHandleKind::kResource)
                                               ? static_cast<const ResourceRecord*>(record)->name
                                               : nullptr;
                                }),
                                true);

}  // namespace

void SetResourceKindOps(uint32_t type, const ResourceKindOps* ops) {
    int i = KindIndex(type);
    if (i >= 0) g_ops[i] = ops;
}

const ResourceKindOps* GetResourceKindOps(uint32_t type) {
    return OpsFor(type);
}

void SetSharedVideoPlayer(void* player) {
    g_shared_video_player = player;
}
void* SharedVideoPlayer() {
    return g_shared_video_player;
}

void SetResourceBudgetMiB(int64_t mib) {
    if (mib < 256) mib = 256;
    // Kept in 64 bits: 4096 MiB and more must not wrap to nothing.
    uint64_t bytes = uint64_t(mib) > (UINT64_MAX >> 20) ? UINT64_MAX : uint64_t(mib) << 20;
    g_resource_budget = bytes;
}

uint64_t ResourceBudgetForPhysicalMemory(uint64_t total_physical_bytes) {
    uint64_t half = total_physical_bytes / 2;
    if (half < 0x10000000) half = 0x10000000;
    if (half > 0x20000000) half = 0x20000000;
    return half;
}

ResourceManager& Resources() {
    static ResourceManager manager;
    return manager;
}

ResourceManager::ResourceManager() {
    RecordCurrentDirectory();
}

ResourceManager::~ResourceManager() {
    Clear();
}

const char* ResourceManager::InternLower(const char* text) {
    std::string lower;
    LowerInto(text, lower);
    return InternBytes(lower.data(), lower.size());
}

ResourceRecord* ResourceManager::FindExisting(const char* name) const {
    // Names are short: lowered on the stack, so a look-up allocates nothing.
    char buffer[256];
    std::string long_name;
    std::string_view lower;
    const size_t length = std::strlen(name);
    if (length < sizeof buffer) {
        std::transform(name, name + length, buffer, LowerAscii);
        lower = std::string_view(buffer, length);
    } else {
        LowerInto(name, long_name);
        lower = long_name;
    }
    auto it = index_.find(lower);
    return it == index_.end() ? nullptr : it->second;
}

ResourceRecord* ResourceManager::FindByName(const char* name) const {
    if (!name) return nullptr;
    return FindExisting(name);
}

ResourceRecord* ResourceManager::FindByNameAndType(const char* name, uint32_t type_mask) const {
    if (!name) return nullptr;
    auto it = index_.find(std::string_view(name));
    return it != index_.end() && (it->second->type & type_mask) ? it->second : nullptr;
}

ResourceRecord* ResourceManager::Declare(const char* name, uint32_t type, const char* found_path) {
    auto* r = static_cast<ResourceRecord*>(ObjectPool::Alloc(sizeof(ResourceRecord)));
    if (!r) return nullptr;
    r->type = type;
    r->name = InternLower(name);
    r->path = InternLower(found_path);
    if (!r->name || !r->path) {
        ObjectPool::Free(r, sizeof(ResourceRecord));
        return nullptr;
    }
    if (tail_)
        tail_->next = r;
    else
        head_ = r;
    tail_ = r;
    index_[r->name] = r;
    RegisterScriptHandle(r, ScriptHandleKind::kResource);
    return r;
}

ResourceRecord* ResourceManager::DeclareKind(const char* name, uint32_t type,
                                             std::initializer_list<const char*> extensions, bool& created) {
    created = false;
    if (!name || !*name) return nullptr;
    if (ResourceRecord* r = FindExisting(name)) return r;
    std::string path = FirstExisting(name, extensions);
    std::string missing_key;
    LowerInto(name, missing_key);
    missing_key.insert(missing_key.begin(), char('0' + type));
    if (path.empty()) {
        // Bounded: a script inventing names does not grow it for ever.
        if (reported_missing_.size() >= kMaxReportedMissing) reported_missing_.clear();
        if (reported_missing_.insert(std::move(missing_key)).second)
            LogPrintf("[NOT FOUND] - %s : %s", KindName(type), name);
        return nullptr;
    }
    ResourceRecord* r = Declare(name, type, path.c_str());
    created = r != nullptr;
    if (created) reported_missing_.erase(missing_key);
    return r;
}

ResourceRecord* ResourceManager::DeclareImage(const char* name, uint32_t creation_flags) {
    bool created;
    ResourceRecord* r = DeclareKind(name, kResourceImage, {".tga", ".jpg", ".jpeg", ".png", ".dds"}, created);
    if (created) r->parameter = creation_flags;
    return r;
}

ResourceRecord* ResourceManager::DeclareSound(const char* name, uint32_t flags) {
    bool created;
    ResourceRecord* r = DeclareKind(name, kResourceSound, {".ogg"}, created);
    if (created) r->flags = flags & ~kResourceLoadTried;
    return r;
}

ResourceRecord* ResourceManager::DeclareVideo(const char* name, uint8_t streamed) {
    bool created;
    ResourceRecord* r = DeclareKind(name, kResourceVideo, {".ogg"}, created);
    if (created && streamed) {
        r->parameter = streamed;
        r->object = g_shared_video_player;
        LogPrintf("[VIDEO STREAM] : %s", name);
    }
    return r;
}

ResourceRecord* ResourceManager::DeclareMesh(const char* name, uint32_t parameter) {
    bool created;
    ResourceRecord* r = DeclareKind(name, kResourceMesh, {".x", ".txt", ".msh"}, created);
    if (created) r->parameter = parameter;
    return r;
}

void ResourceManager::AddSize(ResourceRecord* r, uint32_t size) {
    r->size = size;
    total_ = total_ > UINT64_MAX - size ? UINT64_MAX : total_ + size;
}

void ResourceManager::SubtractSize(ResourceRecord* r) {
    total_ = total_ > r->size ? total_ - r->size : 0;
}

bool ResourceManager::LoadRecord(ResourceRecord* r, bool cached, bool counted) {
    const ResourceKindOps* ops = OpsFor(r->type);
    auto load = ops ? (cached ? ops->load_cached : ops->load) : nullptr;
    if (!ops || !ops->create || !load) {
        LogMissing(r, ops);
        return false;
    }
    r->flags |= kResourceLoadTried;
    if (!r->object) r->object = ops->create();
    if (r->object && load(r->object, *r)) {
        LogPrintf("[%s] : %s", KindName(r->type), r->name);
        if (counted) AddSize(r, ops->byte_size ? ops->byte_size(r->object) : 0);
    } else {
        LogPrintf("[ERROR] - %s : %s", KindName(r->type), r->name);
    }
    return true;
}

bool ResourceManager::BindRecord(ResourceRecord* r) {
    const ResourceKindOps* ops = OpsFor(r->type);
    if (!ops || !ops->bind_stream || (!r->object && !ops->create)) {
        if (!(r->flags & kResourceLoadTried)) LogMissing(r, ops);
        return false;
    }
    r->flags |= kResourceLoadTried;
    if (!r->object) r->object = ops->create();
    return r->object && ops->bind_stream(r->object, *r);
}

Texture* ResourceManager::GetImage(ResourceRecord* r) {
    if (!r || r->type != kResourceImage) return nullptr;
    if (r->flags & kResourceLoadTried) {
        r->last_use = frame_;
    } else if (!LoadRecord(r, false, true)) {
        return nullptr;
    }
    return static_cast<Texture*>(r->object);
}

Sound* ResourceManager::GetSound(ResourceRecord* r) {
    if (!r || r->type != kResourceSound) return nullptr;
    if (r->flags & kSoundStreamed) {
        uint32_t channel = r->flags >> kSoundChannelShift;
        if (channel >= kSoundChannels) {
            LogPrintf("[ERROR] - SOUND : %s (stream channel %u)", r->name, channel);
            return nullptr;
        }
        // Bound again on every acquisition; nothing is counted.
        if (!BindRecord(r) && !r->object) return nullptr;
    } else if (!(r->flags & kResourceLoadTried) && !LoadRecord(r, false, true)) {
        return nullptr;
    }
    r->last_use = frame_;
    return static_cast<Sound*>(r->object);
}

VideoPlayer* ResourceManager::GetVideo(ResourceRecord* r) {
    if (!r || r->type != kResourceVideo) return nullptr;
    if (r->parameter != 0) {
        // Streamed: the shared player opens the path (it ignores the call
        // while it still has a stream).
        if (!r->object || r->object != g_shared_video_player) return nullptr;
        BindRecord(r);
    } else if (!(r->flags & kResourceLoadTried) && !LoadRecord(r, false, false)) {
        return nullptr;
    }
    return static_cast<VideoPlayer*>(r->object);
}

MeshData* ResourceManager::GetMesh(ResourceRecord* r) {
    if (!r || r->type != kResourceMesh) return nullptr;
    if (!(r->flags & kResourceLoadTried) && !LoadRecord(r, EndsWithNoCase(r->path, ".msh"), true))
        return nullptr;
    r->last_use = frame_;
    return static_cast<MeshData*>(r->object);
}

void ResourceManager::Unload(ResourceRecord* r) {
    if (!r) return;
    bool shared_video = r->type == kResourceVideo && r->object && r->object == g_shared_video_player;
    if (r->object && !shared_video) {
        const ResourceKindOps* ops = OpsFor(r->type);
        // What the resource plays ends with its unloading, whenever its
        // memory goes: a sound falls silent now (its buffers and its stream
        // go with it, and engine work below that holds it finds it empty).
        // Images, videos and meshes are shown only through their records,
        // which let go of them below.
        if (r->type == kResourceSound && ops == &kSoundOps) static_cast<Sound*>(r->object)->Release();
        if (ops && ops->destroy)
            ReleaseWhenFree(ops->destroy, r->object);  // engine work may hold it
        else
            LogPrintf("[ERROR] - %s : %s cannot be released (%s is not linked in)", KindName(r->type),
                      r->name, ops && ops->what ? ops->what : "its loader");
    }
    // The shared streaming player is not ours: a streamed video record keeps
    // pointing to it, so it plays again on its next acquisition. A sound
    // keeps its declaration bits (streamed, 3-D, channel).
    if (!shared_video) r->object = nullptr;
    r->flags = r->type == kResourceSound ? r->flags & ~kResourceLoadTried : 0;
    r->size = 0;
    r->last_use = 0;
}

void ResourceManager::Remove(ResourceRecord* r, bool erase) {
    if (!r) return;
    if (r->object) LogPrintf(erase ? "[REMOVE] : %s" : "[UNLOAD] : %s", r->path);
    SubtractSize(r);
    Unload(r);
    if (!erase || r->type == 0) return;
    // Out of the list and the index; the memory stays until Clear, because
    // scene objects and scripts may still hold the record. It answers null
    // to every acquisition from now on.
    ResourceRecord* prev = nullptr;
    for (ResourceRecord* p = head_; p; prev = p, p = p->next) {
        if (p != r) continue;
        if (prev)
            prev->next = r->next;
        else
            head_ = r->next;
        if (tail_ == r) tail_ = prev;
        break;
    }
    auto it = index_.find(r->name);
    if (it != index_.end() && it->second == r) index_.erase(it);
    r->type = 0;
    r->object = nullptr;
    r->next = retired_;
    retired_ = r;
}

void ResourceManager::Redeclare(ResourceRecord* r, uint32_t settings) {
    if (!r || r->type == 0) return;
    Remove(r, false);
    switch (r->type) {
        case kResourceImage:
        case kResourceMesh:
            r->parameter = settings;
            break;
        case kResourceSound:
            r->flags = settings & ~kResourceLoadTried;
            break;
        case kResourceVideo:
            r->parameter = settings ? 1 : 0;
            r->object = settings ? g_shared_video_player : nullptr;
            break;
        default:
            break;
    }
}

void ResourceManager::UnloadByType(uint32_t type_mask) {
    for (ResourceRecord* r = head_; r; r = r->next) {
        if (!(r->type & type_mask)) continue;
        SubtractSize(r);
        Unload(r);
    }
}

void ResourceManager::FreeRecord(ResourceRecord* r) {
    UnregisterScriptHandle(r);
    ReleaseWhenFree([](void* record) { ObjectPool::Free(record, sizeof(ResourceRecord)); }, r);
}

void ResourceManager::Clear() {
    for (ResourceRecord* list : {head_, retired_}) {
        while (list) {
            ResourceRecord* next = list->next;
            Unload(list);
            FreeRecord(list);
            list = next;
        }
    }
    head_ = tail_ = retired_ = nullptr;
    index_.clear();
    reported_missing_.clear();
    total_ = 0;
    purging_ = false;
}

void ResourceManager::Tick() {
    ++frame_;
    Purge();
}

void ResourceManager::Purge() {
    if (!purging_) {
        if (double(total_) > double(g_resource_budget) * 0.5) purging_ = true;
        if (!purging_) return;
    }
    if (frame_ % kPurgeInterval != 0) return;
    // The total may have fallen by other means (removals, a reset, a larger
    // budget) since the episode began: it ends without taking anything.
    if (double(total_) < double(g_resource_budget) * 0.25) {
        purging_ = false;
        return;
    }
    int64_t allowance = kPurgeAllowance;
    while (purging_ && allowance > 0) {
        ResourceRecord* victim = nullptr;
        int32_t oldest = 0;
        for (ResourceRecord* r = head_; r; r = r->next) {
            if (r->size <= kPurgeMinSize) continue;
            int32_t age = int32_t(frame_ - r->last_use);
            if (age > oldest) {
                oldest = age;
                victim = r;
            }
        }
        if (!victim) break;
        SubtractSize(victim);
        allowance -= victim->size;
        LogPrintf("[UNLOAD OLD] %s", victim->name);
        Unload(victim);
        if (double(total_) < double(g_resource_budget) * 0.25) purging_ = false;
    }
}
