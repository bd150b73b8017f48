#pragma once
// Shared pieces of the scene tests: an engine that is not initialised but
// answers CurrentEngine, a Lua state, registered classes, a temporary
// current folder with the stage folder "stages", captured log lines and
// small image files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/engine.h"
#include "base/string_pool.h"
#include "media/image/image_builders.h"
#include "media/resource_manager.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "script/script_test_support.h"
#include "script/object_model.h"
#include "support/test_support.h"
#include "support/text_stream.h"

namespace scene_test {

using script_test::LogLines;
using script_test::Logged;

inline const char* Intern(const char* text) { return CommonStrings().Intern(text); }

// What an object's Save writes.
inline std::string SavedText(EObject* object) {
    quild_test::TextStream out;
    object->Save(&out);
    return out.text;
}

// A w x h PNG of one colour (0xRRGGBB).
inline std::string SolidPng(uint32_t w, uint32_t h, uint32_t rgb) {
    std::vector<std::string> rows;
    std::string row;
    for (uint32_t x = 0; x < w; ++x) {
        row += char(rgb >> 16 & 255);
        row += char(rgb >> 8 & 255);
        row += char(rgb & 255);
    }
    rows.assign(h, row);
    return media_test::MakePng(w, h, 2, rows, std::vector<int>(h, 0));
}

class SceneTest : public script_test::ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        RegisterAllClassProperties();
        engine.screenRect.Set(0, 0, 1024, 768);
        engine.virtualRect.Set(0, 0, 1024, 768);
        SetCurrentEngine(&engine);
        Lua("DIR_STAGES = 'stages'");
    }
    void TearDown() override {
        // Each goes out of its list before it is freed: a hotspot being
        // freed walks the engine's lists.
        engine.currentScene = nullptr;
        while (GameScene* s = engine.scenes.head) {
            ListRemove(engine.scenes, s);
            s->FreeObjects();
            delete s;
        }
        while (HotSpot* h = engine.globalHotspots.head) {
            ListRemove(engine.globalHotspots, h);
            delete h;
        }
        FreeHotspotMap();
        Resources().Clear();
        SetCurrentEngine(nullptr);
        FreeAllPropertyLists();
        ScriptTest::TearDown();
    }

    GameScene* Scene(const char* name) { return ListFindOrAdd(engine.scenes, Intern(name)); }
    template <class T>
    T* Add(ObjectList<T>& list, const char* name) {
        T* o = ListAppendNew(list);
        o->name = Intern(name);
        return o;
    }
    void Write(const std::string& path, const std::string& bytes) {
        std::string folder = path.substr(0, path.rfind('/'));
        if (folder != path) {
            ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
        }
        quild_test::WriteFile(path, bytes);
    }

    Engine engine;
};

}  // namespace scene_test
