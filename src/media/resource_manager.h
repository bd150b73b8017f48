#pragma once
// The one owner of every image, sound, video and mesh the game uses: named
// records, declared first (a file must exist) and loaded on first
// acquisition, counted against a memory budget and purged least recently
// used first.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/string_pool.h"

struct Texture;
class Sound;
class VideoPlayer;
struct MeshData;

// ResourceRecord::type: one bit per kind, so masks select several.
enum ResourceType : uint32_t {
    kResourceImage = 1,
    kResourceSound = 2,
    kResourceVideo = 4,
    kResourceMesh = 8,
};

// ResourceRecord::flags.
constexpr uint32_t kResourceLoadTried = 1;
constexpr uint32_t kSoundStreamed = 2;
constexpr uint32_t kSound3D = 4;
constexpr uint32_t kSoundChannelShift = 4;
constexpr uint32_t kSoundChannels = 8;

struct ResourceRecord {
    ResourceRecord* next;
    void* object;        // Texture, Sound, VideoPlayer or MeshData; null when not loaded
    uint32_t type;       // ResourceType; 0 once removed for good
    const char* name;    // lower-cased, interned in the manager's pool
    const char* path;    // the file found for it, lower-cased, interned
    uint32_t flags;      // kResourceLoadTried; sounds also their declaration bits
    uint32_t parameter;  // image: texture creation flags; video: 1 streamed; mesh: the caller's word
    uint32_t size;       // bytes counted against the budget
    uint32_t last_use;   // frame of the last acquisition; 0 after creation and unloading
};

// What the manager needs from the code of one kind of resource. The kind's
// own code fills it in (SetResourceKindOps) when it is linked; a kind left
// empty can still be declared, counted and removed, and acquiring it logs
// what is missing and gives null.
struct ResourceKindOps {
    const char* what;  // names the missing code in the log line
    // A new, empty object.
    void* (*create)();
    // Loads the object from the record's path (images: the creation flags
    // in parameter; sounds: decoded whole, 3-D with kSound3D; videos:
    // buffered; meshes: converted from the source and cached).
    bool (*load)(void* object, const ResourceRecord& record);
    // Meshes: reads the ".msh" cache file named by the path.
    bool (*load_cached)(void* object, const ResourceRecord& record);
    // Sounds: binds the object to its stream channel and the record's path.
    // Videos: opens the path on the shared streaming player.
    bool (*bind_stream)(void* object, const ResourceRecord& record);
    // Bytes counted against the budget.
    uint32_t (*byte_size)(void* object);
    // Releases everything the object holds and frees it.
    void (*destroy)(void* object);
};

// One kind's operations (kResourceImage .. kResourceMesh); null empties it.
void SetResourceKindOps(uint32_t type, const ResourceKindOps* ops);
const ResourceKindOps* GetResourceKindOps(uint32_t type);
// The one streaming video player, which streamed video records point to
// and never free.
void SetSharedVideoPlayer(void* player);
void* SharedVideoPlayer();

// The memory budget in bytes: 512 MiB until the display or a script sets it.
extern uint64_t g_resource_budget;
constexpr uint64_t kDefaultResourceBudget = 0x20000000;
// ge_settotalmemory: max(mib, 256) MiB.
void SetResourceBudgetMiB(int64_t mib);
// Half the physical memory, kept within 256..512 MiB.
uint64_t ResourceBudgetForPhysicalMemory(uint64_t total_physical_bytes);

// The process's current directory at start, '\' turned into '/'.
extern char g_current_directory[256];

class ResourceManager : public StringPool {
public:
    static constexpr uint32_t kPurgeInterval = 15;        // frames between purge passes
    static constexpr int64_t kPurgeAllowance = 0x800000;  // bytes unloaded per pass, about
    static constexpr uint32_t kPurgeMinSize = 0x10000;    // records this small are never purged

    ResourceManager();
    ~ResourceManager();

    // Finds the record of that name (any type, any case) or makes one when
    // the file exists; null for an empty name or a missing file.
    ResourceRecord* DeclareImage(const char* name, uint32_t creation_flags);
    ResourceRecord* DeclareSound(const char* name, uint32_t flags);
    ResourceRecord* DeclareVideo(const char* name, uint8_t streamed);
    ResourceRecord* DeclareMesh(const char* name, uint32_t parameter);

    // Any case.
    ResourceRecord* FindByName(const char* name) const;
    // Byte for byte (record names are lower case), of a type in the mask.
    ResourceRecord* FindByNameAndType(const char* name, uint32_t type_mask) const;

    // Acquisition: loads on first use; null for a null record or one of
    // another type.
    Texture* GetImage(ResourceRecord* record);
    Sound* GetSound(ResourceRecord* record);
    VideoPlayer* GetVideo(ResourceRecord* record);
    MeshData* GetMesh(ResourceRecord* record);

    // Destroys the loaded object; the record stays, ready to load again.
    // Does not change the total (its callers do).
    void Unload(ResourceRecord* record);
    // Unloads (logging when loaded); with erase also takes the record out of
    // the list for good.
    void Remove(ResourceRecord* record, bool erase);
    void UnloadByType(uint32_t type_mask);
    // Unloads the record and gives it new declaration settings (images: the
    // creation flags; sounds: the declaration flags; videos: 1 streamed, 0
    // buffered). The record itself stays, so every holder of it loads the
    // resource anew with those settings on its next acquisition.
    void Redeclare(ResourceRecord* record, uint32_t settings);
    // Unloads and frees every record (shut-down).
    void Clear();

    // Once per frame: counts the frame and purges.
    void Tick();
    void Purge();

    ResourceRecord* First() const { return head_; }
    uint64_t TotalBytes() const { return total_; }
    uint32_t Frame() const { return frame_; }
    bool Purging() const { return purging_; }
    size_t Count() const { return index_.size(); }

private:
    ResourceRecord* Declare(const char* name, uint32_t type, const char* found_path);
    ResourceRecord* DeclareKind(const char* name, uint32_t type,
                                std::initializer_list<const char*> extensions, bool& created);
    ResourceRecord* FindExisting(const char* name) const;
    const char* InternLower(const char* text);
    // First acquisition: creates the object when there is none and loads
    // it, logging the outcome; false when the kind's code is missing.
    bool LoadRecord(ResourceRecord* r, bool cached, bool counted);
    // Streamed sounds and videos: binds the object to the record's path.
    bool BindRecord(ResourceRecord* r);
    void AddSize(ResourceRecord* r, uint32_t size);
    void SubtractSize(ResourceRecord* r);
    void FreeRecord(ResourceRecord* r);

    ResourceRecord* head_ = nullptr;
    ResourceRecord* tail_ = nullptr;
    bool purging_ = false;
    uint64_t total_ = 0;
    uint32_t frame_ = 0;
    // Records by their interned name.
    // Keyed by the interned lower-case name: a look-up hashes the name once.
    std::unordered_map<std::string_view, ResourceRecord*> index_;
    // Records removed for good: kept (type 0, answering null) until Clear,
    // since scene objects may still hold them.
    ResourceRecord* retired_ = nullptr;
    // Kind and lower-case name of every file reported missing: a name asked
    // for every frame is reported once, until a declaration of it succeeds.
    std::unordered_set<std::string> reported_missing_;
};

// The one manager.
ResourceManager& Resources();
