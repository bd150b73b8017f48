// Script functions of the display, the adapter, gamma, the ambient colour,
// the view and the camera, the console and screenshots.
#include <cmath>
#include <cstdio>

extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/console.h"
#include "app/engine.h"
#include "app/engine_media.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "media/image/image_data.h"
#include "media/image/tga_codec.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"
#include "render/geometry.h"
#include "scene/game_scene.h"
#include "scene/hotspot_map.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::Float;
using script_args::Int;

// The current scene's view type (1 pages, 2 cube faces), 0 without a scene.
int ViewType(const Engine* e) { return e && e->currentScene ? e->currentScene->viewtype : kViewNone; }

int PushTwo(lua_State* L, double a, double b) {
    lua_pushnumber(L, a);
    lua_pushnumber(L, b);
    return 2;
}

int PushThree(lua_State* L, double a, double b, double c) {
    lua_pushnumber(L, a);
    lua_pushnumber(L, b);
    lua_pushnumber(L, c);
    return 3;
}

// ------------------------------------------------------ display, adapter

int GetDisplayModeCountFn(lua_State* L) {
    lua_pushnumber(L, GetDisplayModeCount());
    return 1;
}

// ge_getdisplaymode(index from 1): width, height, refresh rate.
int GetDisplayModeFn(lua_State* L) {
    const int64_t index = int64_t(Int(L, 1)) - 1;
    int32_t w = 0, h = 0, refresh = 0;
    if (g_renderDevice && index >= 0) GetDisplayMode(int32_t(index), &w, &h, &refresh);
    return PushThree(L, w, h, refresh);
}

int GetShaderSupport(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushboolean(L, e && e->shadersSupported);
    return 1;
}

// ge_getantialiassupport(n): bits 4..18 of the capability mask stand for
// multisample types 2..16; nothing for n below 2, false above 16.
int GetAntialiasSupport(lua_State* L) {
    const int32_t n = Int(L, 1);
    if (n < 2) return 0;
    const D3DRenderDevice* device = g_d3dRenderDevice;
    lua_pushboolean(L, n <= 16 && device && (device->capabilityBits & (1u << (n + 2))) != 0);
    return 1;
}

int SetGamma(lua_State* L) {
    if (g_renderDevice) g_renderDevice->SetGamma(lua_tonumber(L, 1), lua_tonumber(L, 2), lua_tonumber(L, 3));
    return 0;
}

// ge_importgamma(path): the first 256 pixels of a 24-bit TGA give one ramp.
int ImportGamma(lua_State* L) {
    const char* path = script_args::Text(L, 1);
    if (!path || !g_renderDevice) return 0;
    ImageData image;
    if (!LoadTga(image, path)) return 0;
    if (image.bits != kImageRgb || uint64_t(image.width) * image.height < 256) return 0;
    uint16_t ramp[256];
    for (int i = 0; i < 256; ++i) {
        const uint8_t* p = image.pixels + size_t(i) * 3;
        const uint32_t grey = (76u * p[0] + 150u * p[1] + 30u * p[2]) >> 8;
        ramp[i] = uint16_t(grey * 65535u / 255u);
    }
    g_renderDevice->SetGammaRamp(ramp);
    return 0;
}

int SetAmbientColor(lua_State* L) {
    if (Engine* e = CurrentEngine()) e->ambientColor = ScriptArgColor(L, 1, 0xFFFFFFFFu);
    return 0;
}

int GetAmbientColor(lua_State* L) {
    Engine* e = CurrentEngine();
    char text[16];
    std::snprintf(text, sizeof text, "%x", e ? e->ambientColor : 0xFFFFFFFFu);
    lua_pushstring(L, text);
    return 1;
}

// ---------------------------------------------------------- view, camera

int Look(lua_State* L) {
    g_lookYaw = Float(L, 1);
    g_lookPitch = Float(L, 2);
    return 0;
}

int GetLook(lua_State* L) {
    return PushTwo(L, g_lookYaw, g_lookPitch);
}

// ge_getview(): the current scene's camera, nil without one.
int GetView(lua_State* L) {
    Engine* e = CurrentEngine();
    Camera* camera = e && e->currentScene ? e->currentScene->camera : nullptr;
    return script_args::PushHandleOrNil(L, camera ? camera->Handle() : nullptr);
}

// ge_getae(): the pointer's angles in a cube scene, else the mouse position.
int GetAe(lua_State* L) {
    Engine* e = CurrentEngine();
    if (e && ViewType(e) == kViewCube) return PushTwo(L, g_pointerYaw, g_pointerPitch);
    return PushTwo(L, std::trunc(g_mouseX), std::trunc(g_mouseY));
}

int GetAeFace(lua_State* L) {
    Engine* e = CurrentEngine();
    int face = -1;
    if (e && ViewType(e) == kViewCube) {
        plat::Vec3 d;
        face = DirectionToCubeFace(*AnglesToDirection(&d, g_pointerYaw, g_pointerPitch));
    }
    lua_pushnumber(L, face);
    return 1;
}

int GetFaceXy(lua_State* L) {
    int face = 0, x = 0, y = 0;
    AnglesToFacePixel(g_pointerYaw, g_pointerPitch, 1024, &face, &x, &y);
    return PushThree(L, face, x, y);
}

// ge_getaevector([a, b]): the view direction of a point: the angles in a
// cube scene, a screen point (default the pointer) unprojected elsewhere.
int GetAeVector(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e || !e->currentScene) return 0;
    if (ViewType(e) == kViewCube) {
        plat::Vec3 d;
        AnglesToDirection(&d, Float(L, 1), Float(L, 2));
        return PushThree(L, d.x, d.y, d.z);
    }
    const Camera* camera = e->activeCamera ? e->activeCamera : e->currentScene->camera;
    if (!e->currentScene->camera || !camera) return PushThree(L, 0, 0, 0);
    int x, y;
    if (lua_gettop(L) > 0) {
        x = Int(L, 1);
        y = Int(L, 2);
    } else {
        x = SaturateToInt(g_mouseX);
        y = SaturateToInt(g_mouseY);
    }
    plat::Vec3 near_point, far_point;
    camera->Unproject(&near_point, x, y, 0.0f);
    camera->Unproject(&far_point, x, y, 1.0f);
    float dx = far_point.x - near_point.x, dy = far_point.y - near_point.y, dz = far_point.z - near_point.z;
    const float length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (length > 0.0f) dx /= length, dy /= length, dz /= length;
    return PushThree(L, dx, dy, dz);
}

int Project(lua_State* L) {
    Engine* e = CurrentEngine();
    int x = 0, y = 0;
    if (e && e->activeCamera) {
        const plat::Vec3 p{Float(L, 1), Float(L, 2), Float(L, 3)};
        if (!e->activeCamera->Project(p, &x, &y)) x = y = 0;
    }
    return PushTwo(L, x, y);
}

int Unproject(lua_State* L) {
    Engine* e = CurrentEngine();
    plat::Vec3 p{0, 0, 0};
    if (e && e->activeCamera) e->activeCamera->Unproject(&p, Int(L, 1), Int(L, 2), Float(L, 3));
    return PushThree(L, p.x, p.y, p.z);
}

int SetProjection(lua_State* L) {
    Engine* e = CurrentEngine();
    if (e && e->activeCamera) e->activeCamera->SetPerspective(Float(L, 1), Float(L, 2), Float(L, 3), Float(L, 4));
    return 0;
}

// ge_camsetrotation(yaw, pitch): the camera stands at the walk offset,
// turned by the angles.
int CamSetRotation(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e || !e->activeCamera) return 0;
    Camera* camera = e->activeCamera;
    camera->SetEye(g_walkOffset[0], g_walkOffset[1], g_walkOffset[2]);
    camera->Rotate(DegToRad(Float(L, 1)), DegToRad(Float(L, 2)), 0.0f);
    camera->UpdateView();
    return 0;
}

// ------------------------------------------------ console and screenshots

int ToggleConsole(lua_State*) {
    if (g_console) g_console->Toggle();
    return 0;
}

int ConsoleEnabled(lua_State* L) {
    lua_pushboolean(L, g_console && g_console->IsVisible());
    return 1;
}

// ge_saveshot(name, quality, width, height): the next frame saves the
// screenshot. Sizes of 0 or less stand for the screen's; sizes too large
// for an image are refused and leave no request.
int SaveShot(lua_State* L) {
    Engine* e = CurrentEngine();
    const char* name = script_args::Text(L, 1);
    if (!e || !name || !*name) return 0;
    int32_t w = 0, h = 0;
    if (!ResolveScreenshotSize(Int(L, 3), Int(L, 4), e->screenRect.w, e->screenRect.h, &w, &h)) {
        LogPrintf("[SAVESHOT] Size refused: %d by %d pixels", Int(L, 3), Int(L, 4));
        return 0;
    }
    e->screenshotName = CommonStrings().Intern(name);
    e->screenshotQuality = Int(L, 2);
    e->screenshotWidth = w;
    e->screenshotHeight = h;
    return 0;
}

ScriptFunctionRecord s_ge_setambientcolor("ge_setambientcolor", SetAmbientColor);
ScriptFunctionRecord s_ge_getambientcolor("ge_getambientcolor", GetAmbientColor);
ScriptFunctionRecord s_ge_setgamma("ge_setgamma", SetGamma);
ScriptFunctionRecord s_ge_importgamma("ge_importgamma", ImportGamma);
ScriptFunctionRecord s_ge_getshadersupport("ge_getshadersupport", GetShaderSupport);
ScriptFunctionRecord s_ge_getantialiassupport("ge_getantialiassupport", GetAntialiasSupport);
ScriptFunctionRecord s_ge_look("ge_look", Look);
ScriptFunctionRecord s_ge_getlook("ge_getlook", GetLook);
ScriptFunctionRecord s_ge_getview("ge_getview", GetView);
ScriptFunctionRecord s_ge_getae("ge_getae", GetAe);
ScriptFunctionRecord s_ge_getfacexy("ge_getfacexy", GetFaceXy);
ScriptFunctionRecord s_ge_getaevector("ge_getaevector", GetAeVector);
ScriptFunctionRecord s_ge_project("ge_project", Project);
ScriptFunctionRecord s_ge_unproject("ge_unproject", Unproject);
ScriptFunctionRecord s_ge_getaeface("ge_getaeface", GetAeFace);
ScriptFunctionRecord s_ge_getdisplaymodecount("ge_getdisplaymodecount", GetDisplayModeCountFn);
ScriptFunctionRecord s_ge_getdisplaymode("ge_getdisplaymode", GetDisplayModeFn);
ScriptFunctionRecord s_ge_setprojection("ge_setprojection", SetProjection);
ScriptFunctionRecord s_ge_camsetrotation("ge_camsetrotation", CamSetRotation);
ScriptFunctionRecord s_ge_toggleconsole("ge_toggleconsole", ToggleConsole);
ScriptFunctionRecord s_ge_consoleenabled("ge_consoleenabled", ConsoleEnabled);
ScriptFunctionRecord s_ge_saveshot("ge_saveshot", SaveShot);

}  // namespace
