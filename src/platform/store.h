#pragma once
// The store client, kept in local files: the user is always logged on,
// statistics and achievements persist in the per-user folder, and answers
// arrive as callbacks delivered from RunCallbacks on the main thread.
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat::store {

// Parameter blocks of the callbacks, with their ids.
struct UserStatsReceived {
    static constexpr int kId = 1101;
    uint64_t game_id;
    int32_t result;  // 1 = OK
    uint64_t user_id;
};
struct UserStatsStored {
    static constexpr int kId = 1102;
    uint64_t game_id;
    int32_t result;
};
struct UserAchievementStored {
    static constexpr int kId = 1103;
    uint64_t game_id;
    bool group_achievement;
    char achievement_name[128];
    uint32_t cur_progress;
    uint32_t max_progress;
};
struct UserAchievementIconFetched {
    static constexpr int kId = 1109;
    uint64_t game_id;
    char achievement_name[128];
    bool achieved;
    int32_t icon_handle;
};

// A registered receiver of one callback id.
class CallbackBase {
public:
    virtual ~CallbackBase() = default;
    virtual void Run(void* param) = 0;
    virtual void RunWithResult(void* param, bool io_failure, uint64_t call) = 0;
    virtual int GetCallbackSize() = 0;

    uint8_t flags = 0;  // bit 0: registered
    int id = 0;
};

constexpr uint32_t kAppId = 480;  // the id the local store reports

// Start-up: true when the store is there. A test can make it absent with
// SetAvailableForTesting(false); every call is then a no-op.
bool Init();
void Shutdown();
bool IsRunning();
void RunCallbacks();
void SetAvailableForTesting(bool available);
// Where the store keeps its files (default: the per-user folder).
void SetDataFolderForTesting(const char* folder);

using WarningHook = void (*)(int severity, const char* text);
void SetWarningMessageHook(WarningHook hook);

void RegisterCallback(CallbackBase* callback, int id);
void UnregisterCallback(CallbackBase* callback);

bool LoggedOn();
uint32_t GetAppID();
bool RequestCurrentStats();
bool GetAchievement(const char* name, bool* achieved);
// "name" gives the achievement's display name, "desc" its description;
// the local store knows none beyond the identifier, so "name" is the
// identifier and "desc" is empty.
const char* GetAchievementDisplayAttribute(const char* name, const char* key);
// The file the achievements are kept in; empty without a per-user folder.
std::string AchievementsFile();
// Whether the file can keep a name of size bytes: 1 to 127 of them, none a
// line break or NUL (the file holds one name a line). SetAchievement refuses
// any other.
bool AchievementNameFits(const char* name, size_t size);
bool SetAchievement(const char* name);
bool ClearAchievement(const char* name);
bool StoreStats();
bool ResetAllStats(bool achievements_too);
// The game language: $QUILD_LANGUAGE, else "english".
const char* GetCurrentGameLanguage();

}  // namespace plat::store
