#include "scriptapi/store_achievements.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/log.h"
#include "base/string_pool.h"

namespace {

__attribute__((format(printf, 1, 2))) void Trace(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    DebugOutput(line);
}

// Texts from the store, cut to what a record keeps.
std::string Kept(const char* text, size_t max) {
    if (!text) return {};
    return std::string(text, strnlen(text, max));
}

}  // namespace

bool LogFailedStoreWrite(bool written) {
    if (!written && plat::store::IsRunning())
        LogPrintf("[ERROR] - ACHIEVEMENTS : can't write %s; the file keeps what it had",
                  plat::store::AchievementsFile().c_str());
    return written;
}

StoreAchievements::StoreAchievements(const char* base_name, int32_t count) {
    namespace store = plat::store;
    game_id_ = store::GetAppID();
    if (count < 0) count = 0;
    if (count > kMaxCount) count = kMaxCount;
    const std::string base = base_name ? base_name : "";
    records_.resize(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = base + (i < 10 ? "0" : "") + std::to_string(i);
        records_[size_t(i)].index = i;
        records_[size_t(i)].api_name = CommonStrings().InternBytes(name.data(), name.size());
    }
    RequestStats();
    // A long base name is cut with the trace line.
    Trace("[%d] Generated %d Achievements '%s'\n", int(uint32_t(game_id_)), count, base.c_str());
}

StoreAchievements::~StoreAchievements() = default;

bool StoreAchievements::RequestStats() {
    namespace store = plat::store;
    if (!store::IsRunning()) {
        // Without the store neither interface exists.
        Trace("NULL User(%d) or UserStats(%d)\n", 0, 0);
        return false;
    }
    if (!store::LoggedOn()) {
        Trace("RequestStats - no user logged on\n");
        return false;
    }
    return store::RequestCurrentStats();
}

bool StoreAchievements::SetAchievement(const char* api_name) {
    if (!stats_received_ || !api_name) return false;
    if (!plat::store::SetAchievement(api_name)) return false;
    return LogFailedStoreWrite(plat::store::StoreStats());
}

const StoreAchievements::Record* StoreAchievements::At(int32_t index) const {
    return index >= 0 && index < Count() ? &records_[size_t(index)] : nullptr;
}

void StoreAchievements::OnUserStatsReceived(const plat::store::UserStatsReceived& p) {
    Trace("Received received for GameID: %d\n", int(uint32_t(p.game_id)));
    if (p.game_id != game_id_) return;
    if (p.result != 1) {
        Trace("RequestStats - failed, %d\n", int(p.result));
        return;
    }
    Trace("Received stats and achievements from Steam\n");
    stats_received_ = true;
    for (Record& r : records_) {
        bool achieved = false;
        plat::store::GetAchievement(r.api_name, &achieved);
        r.achieved = achieved;
        r.display_name = Kept(plat::store::GetAchievementDisplayAttribute(r.api_name, "name"), kMaxDisplayName);
        r.description = Kept(plat::store::GetAchievementDisplayAttribute(r.api_name, "desc"), kMaxDescription);
    }
}

void StoreAchievements::OnUserStatsStored(const plat::store::UserStatsStored& p) {
    if (p.game_id != game_id_) return;
    if (p.result == 1)
        Trace("Stored stats for Steam\n");
    else
        Trace("StatsStored - failed, %d\n", int(p.result));
}

void StoreAchievements::OnAchievementStored(const plat::store::UserAchievementStored& p) {
    if (p.game_id == game_id_) Trace("Stored Achievement for Steam\n");
}

void StoreAchievements::OnAchievementIconFetched(const plat::store::UserAchievementIconFetched& p) {
    const std::string name = Kept(p.achievement_name, sizeof p.achievement_name);
    for (Record& r : records_) {
        if (r.display_name == name) {
            r.icon = p.icon_handle;
            break;
        }
    }
    Trace("Achievement Icon Arrived\n");
}

namespace {

struct AchievementSets {
    std::vector<std::unique_ptr<StoreAchievements>> all;  // earlier sets stay registered
    StoreAchievements* current = nullptr;
};

AchievementSets& Sets() {
    static auto* sets = new AchievementSets;
    return *sets;
}

}  // namespace

StoreAchievements* CurrentAchievements() { return Sets().current; }

void FreeAllAchievements() {
    Sets().current = nullptr;
    Sets().all.clear();
}

StoreAchievements* MakeAchievements(const char* base_name, int32_t count) {
    AchievementSets& sets = Sets();
    if (count > StoreAchievements::kMaxCount) {
        Trace("Achievements: %d are more than a set holds\n", count);
        sets.current = nullptr;
        return nullptr;
    }
    sets.all.push_back(std::make_unique<StoreAchievements>(base_name, count));
    sets.current = sets.all.back().get();
    return sets.current;
}
