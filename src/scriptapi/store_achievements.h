#pragma once
// The achievements scripts unlock in the store: one record per achievement
// ("<base>00" .. "<base>09", "<base>10" ...), filled with the achievement's
// state and display texts once the store has sent its statistics, and the
// store's four callbacks. Diagnostics go to the debugger output.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/store.h"

// Passes a store write's result on; a write that failed while the store
// runs is logged (the store keeps the file it had).
bool LogFailedStoreWrite(bool written);

class StoreAchievements {
public:
    // The most achievements one set holds; larger counts are refused.
    static constexpr int32_t kMaxCount = 4096;
    static constexpr size_t kMaxDisplayName = 127;  // characters kept of "name"
    static constexpr size_t kMaxDescription = 255;  // characters kept of "desc"

    struct Record {
        int32_t index = 0;
        const char* api_name = nullptr;  // interned in the common pool
        std::string display_name;
        std::string description;
        bool achieved = false;
        int32_t icon = -1;
    };

    // Registers the callbacks, builds the records and asks for the
    // statistics. A count below 0 counts as 0.
    StoreAchievements(const char* base_name, int32_t count);
    ~StoreAchievements();
    StoreAchievements(const StoreAchievements&) = delete;
    StoreAchievements& operator=(const StoreAchievements&) = delete;

    bool RequestStats();
    // False until the statistics have arrived; then sets and stores.
    bool SetAchievement(const char* api_name);

    int32_t Count() const { return int32_t(records_.size()); }
    const Record* At(int32_t index) const;
    bool StatsReceived() const { return stats_received_; }

    void OnUserStatsReceived(const plat::store::UserStatsReceived& p);
    void OnUserStatsStored(const plat::store::UserStatsStored& p);
    void OnAchievementStored(const plat::store::UserAchievementStored& p);
    void OnAchievementIconFetched(const plat::store::UserAchievementIconFetched& p);

private:
    template <class P, void (StoreAchievements::*Member)(const P&)>
    class Callback : public plat::store::CallbackBase {
    public:
        explicit Callback(StoreAchievements* owner) : owner_(owner) { plat::store::RegisterCallback(this, P::kId); }
        ~Callback() override { plat::store::UnregisterCallback(this); }
        void Run(void* param) override { (owner_->*Member)(*static_cast<const P*>(param)); }
        void RunWithResult(void* param, bool, uint64_t) override { Run(param); }
        int GetCallbackSize() override { return int(sizeof(P)); }

    private:
        StoreAchievements* owner_;
    };

    uint64_t game_id_ = 0;
    bool stats_received_ = false;
    std::vector<Record> records_;
    Callback<plat::store::UserStatsReceived, &StoreAchievements::OnUserStatsReceived> received_{this};
    Callback<plat::store::UserStatsStored, &StoreAchievements::OnUserStatsStored> stored_{this};
    Callback<plat::store::UserAchievementStored, &StoreAchievements::OnAchievementStored> achievement_stored_{this};
    Callback<plat::store::UserAchievementIconFetched, &StoreAchievements::OnAchievementIconFetched> icon_fetched_{
        this};
};

// A new set that becomes the current one; a count above kMaxCount makes
// none and leaves no current set (earlier sets stay, registered).
StoreAchievements* MakeAchievements(const char* base_name, int32_t count);
// The set made by the last successful achieve_init, or null.
StoreAchievements* CurrentAchievements();
// Frees every set achieve_init made (their callbacks unregistered).
void FreeAllAchievements();
