#include "app/engine_input.h"

#include "app/app_window.h"
#include "app/console.h"
#include "app/engine.h"
#include "script/lua_host.h"

// Keys go to the console first, then to the game's handlers. The scene,
// video and hotspot steps join these handlers with the scenes.

void EngineOnKeyDown(int key) {
    if (g_console && g_console->IsVisible() && g_console->OnKey(key)) return;
    if (GameHandlerBits() & 0x01) ScriptCall("OnGameKeyDown(%d)", key);
}

void EngineOnKeyUp(int key) {
    if (GameHandlerBits() & 0x02) ScriptCall("OnGameKeyUp(%d)", key);
}

void EngineOnChar(int code) {
    if (g_console && g_console->IsVisible()) {
        g_console->OnChar(code);
        return;
    }
    ScriptCall("OnGameCharTyped(%d)", code & 0xFF);
}

void EngineOnMouseWheel(int delta) { ScriptCall("OnGameMouseWheel(%d)", delta); }

void EngineOnMouseDown(int x, int y, int button) {
    Engine* e = CurrentEngine();
    if (!e) return;
    e->buttonsDown |= static_cast<uint32_t>(button);
    if (GameHandlerBits() & 0x08) ScriptCall("OnGameMouseDown(%d,%d,%d)", x, y, button);
}

void EngineOnMouseUp(int x, int y, int button) {
    Engine* e = CurrentEngine();
    if (!e) return;
    e->buttonsDown &= ~static_cast<uint32_t>(button);
    if (GameHandlerBits() & 0x10) ScriptCall("OnGameMouseUp(%d,%d,%d)", x, y, button);
}

void InstallEngineInputCallbacks() {
    g_inputCallbacks.keyDown = EngineOnKeyDown;
    g_inputCallbacks.keyUp = EngineOnKeyUp;
    g_inputCallbacks.character = EngineOnChar;
    g_inputCallbacks.mouseDown = EngineOnMouseDown;
    g_inputCallbacks.mouseUp = EngineOnMouseUp;
    g_inputCallbacks.mouseMove = [](int, int, int) {};
    g_inputCallbacks.wheel = EngineOnMouseWheel;
}
