#include "platform/store.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"

namespace plat::store {

namespace {

struct State {
    bool available = true;
    bool running = false;
    std::string folder;  // empty: the per-user folder
    WarningHook hook = nullptr;
    std::vector<CallbackBase*> callbacks;
    std::set<std::string> achieved;      // as stored
    std::set<std::string> pending;       // set but not stored yet
    std::vector<std::function<void()>> queue;
    std::string language;
};

State& S() {
    static State* s = new State;
    return *s;
}

}  // namespace

std::string AchievementsFile() {
    std::string folder = S().folder;
    if (folder.empty()) {
        std::string docs = DocumentsFolder();
        if (docs.empty()) return {};
        folder = docs + "/Quorvane";
    }
    return folder + "/achievements.txt";
}

namespace {

void Load() {
    S().achieved.clear();
    std::string path = AchievementsFile();
    if (path.empty()) return;
    // A regular file only: a FIFO or a folder in its place reads as empty.
    FILE* in = OpenRegularFile(path.c_str(), "rb");
    if (!in) return;
    char line[256];
    while (std::fgets(line, sizeof line, in)) {
        size_t n = std::strlen(line);
        const bool whole = n > 0 && line[n - 1] == '\n';
        if (!whole && !std::feof(in)) {  // longer than any name: skip the rest of it
            int c;
            while ((c = std::fgetc(in)) != EOF && c != '\n') {
            }
            continue;
        }
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
        if (n > 0 && n < 128) S().achieved.insert(line);
    }
    std::fclose(in);
}

bool Save() {
    std::string path = AchievementsFile();
    if (path.empty()) return false;
    std::string folder = path.substr(0, path.rfind('/'));
    if (!CreateFolders(folder)) return false;
    std::string text;
    for (const auto& a : S().achieved) text += a + "\n";
    return WriteFileDurably(path, text.data(), text.size());
}

template <class P>
void Post(P param) {
    S().queue.push_back([param]() mutable {
        // Copy the list: a callback may register or unregister others.
        std::vector<CallbackBase*> targets = S().callbacks;
        for (CallbackBase* cb : targets)
            if (cb->id == P::kId) cb->Run(&param);
    });
}

void CopyName(char (&dst)[128], const char* src) {
    std::snprintf(dst, sizeof dst, "%s", src ? src : "");
}

}  // namespace

bool Init() {
    if (!S().available) return false;
    S().running = true;
    Load();
    return true;
}

void Shutdown() {
    S().running = false;
    S().queue.clear();
    S().pending.clear();
}

bool IsRunning() { return S().running; }

void SetAvailableForTesting(bool available) { S().available = available; }
void SetDataFolderForTesting(const char* folder) { S().folder = folder ? folder : ""; }

void RunCallbacks() {
    if (!S().running) return;
    std::vector<std::function<void()>> now;
    now.swap(S().queue);
    for (auto& f : now) f();
}

void SetWarningMessageHook(WarningHook hook) { S().hook = hook; }

void RegisterCallback(CallbackBase* callback, int id) {
    if (!callback) return;
    UnregisterCallback(callback);
    callback->id = id;
    callback->flags |= 1;
    S().callbacks.push_back(callback);
}

void UnregisterCallback(CallbackBase* callback) {
    auto& v = S().callbacks;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == callback) {
            v.erase(v.begin() + static_cast<long>(i));
            break;
        }
    }
    if (callback) callback->flags &= ~1;
}

bool LoggedOn() { return S().running; }
uint32_t GetAppID() { return S().running ? kAppId : 0; }

bool RequestCurrentStats() {
    if (!S().running) return false;
    UserStatsReceived p{};
    p.game_id = kAppId;
    p.result = 1;
    p.user_id = 1;
    Post(p);
    return true;
}

bool GetAchievement(const char* name, bool* achieved) {
    if (!S().running || !name || !achieved) return false;
    *achieved = S().achieved.count(name) != 0 || S().pending.count(name) != 0;
    return true;
}

const char* GetAchievementDisplayAttribute(const char* name, const char* key) {
    static thread_local std::string text;
    text.clear();
    if (S().running && name && key && std::strcmp(key, "name") == 0) text = name;
    return text.c_str();
}

bool AchievementNameFits(const char* name, size_t size) {
    if (!name || size == 0 || size >= 128) return false;
    for (size_t i = 0; i < size; ++i)
        if (name[i] == '\n' || name[i] == '\r' || name[i] == 0) return false;
    return true;
}

bool SetAchievement(const char* name) {
    if (!S().running || !name || !AchievementNameFits(name, strnlen(name, 128))) return false;
    S().pending.insert(name);
    return true;
}

bool ClearAchievement(const char* name) {
    if (!S().running || !name) return false;
    S().pending.erase(name);
    S().achieved.erase(name);
    return Save();
}

bool StoreStats() {
    if (!S().running) return false;
    std::vector<std::string> stored(S().pending.begin(), S().pending.end());
    for (const auto& a : stored) S().achieved.insert(a);
    S().pending.clear();
    bool ok = Save();
    UserStatsStored st{};
    st.game_id = kAppId;
    st.result = ok ? 1 : 2;
    Post(st);
    if (ok) {
        for (const auto& a : stored) {
            UserAchievementStored as{};
            as.game_id = kAppId;
            CopyName(as.achievement_name, a.c_str());
            Post(as);
        }
    }
    return ok;
}

bool ResetAllStats(bool achievements_too) {
    if (!S().running) return false;
    if (achievements_too) {
        S().achieved.clear();
        S().pending.clear();
    }
    return Save();
}

const char* GetCurrentGameLanguage() {
    const char* env = std::getenv("QUILD_LANGUAGE");
    S().language = (env && *env) ? env : "english";
    return S().language.c_str();
}

}  // namespace plat::store
