#pragma once
// The scene-file constructor tests: a panoramic scene "hall" that is the
// engine's current scene, and scene-file text run between beginscene('hall')
// and endscene() as a scene load runs it.
#include <string>
#include <vector>

#include "scene/scene_fixture.h"

namespace constructor_test {

class ConstructorTest : public scene_test::SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        s = Scene("hall");
        s->viewtype = kViewCube;
        engine.currentScene = s;
    }
    // Runs the text between beginscene('hall') and endscene().
    void InScene(const std::string& text) { Lua(("beginscene('hall') " + text + " endscene()").c_str()); }
    std::vector<std::string> NotFound() {
        std::vector<std::string> out;
        for (const std::string& l : scene_test::LogLines())
            if (l.rfind("[NOT FOUND]", 0) == 0) out.push_back(l);
        return out;
    }
    GameScene* s = nullptr;
};

}  // namespace constructor_test
