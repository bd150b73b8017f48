#include "app/frame_draw.h"

#include <algorithm>
#include <cstdio>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/engine_media.h"
#include "app/post_effects.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "media/image/draw2d.h"
#include "media/sound/sound_device.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "platform/system.h"
#include "render/d3d_render_device.h"
#include "render/geometry.h"
#include "render/render_device.h"
#include "scene/game_scene.h"
#include "script/lua_host.h"

namespace {

// Effects drawn from the dissolve buffer rather than the render target.
constexpr uint32_t kEffectsThroughBuffer = 0x6E;

// The scene rendered into a target; false when the target could not be
// begun.
bool RenderInto(Engine* e, TextureRecord* target) {
    RenderDevice* device = g_renderDevice;
    if (!device || device->BeginRenderTarget(target) != 1) return false;
    RenderCurrentScene(e);
    device->EndRenderTarget();
    return true;
}

void TakeScreenshot(Engine* e) {
    TextureRecord* picture = e->renderTarget;
    RenderInto(e, e->renderTarget);
    if (e->postFxLast & kEffectsThroughBuffer) {
        ComposePostEffects(e, e->dissolveBuffer);
        picture = e->dissolveBuffer;
    }
    const char* name = e->screenshotName;
    e->screenshotName = nullptr;
    e->SaveScreenshot(picture, name, e->screenshotQuality);
}

}  // namespace

bool SceneThroughTarget(const Engine* e) {
    if (!e->currentScene || e->currentVideo) return false;
    return e->postFxRequested != 0 ||
           (e->currentScene->viewtype == kViewPage && e->screenRect.w > e->virtualRect.w);
}

bool FrameCaptures(Engine* e) {
    if (e->screenshotName) {
        TakeScreenshot(e);
        return true;
    }
    if (e->freezeState == 1) {
        RenderInto(e, e->renderTarget);
        PostEffectSamplingScale(e, &e->captureScaleU, &e->captureScaleV);
        e->freezeState = 2;
        return true;
    }
    return CaptureDissolve(e);
}

bool FrameOffscreen(Engine* e) {
    if (e->currentVideo) {
        e->UpdateVideo();
        return true;
    }
    if (!SceneThroughTarget(e) || e->freezeState != 0) return true;
    RenderDevice* device = g_renderDevice;
    if (!device) return true;
    const int32_t begun = device->BeginRenderTarget(e->renderTarget);
    if (begun <= 0) {
        char text[64];
        std::snprintf(text, sizeof text, "beginTagret FAILED: %d", begun);
        LogPrintf("[ERROR] - %s", text);
        plat::MessageBox("beginTagret ERROR", text);
        return false;
    }
    RenderCurrentScene(e);
    device->EndRenderTarget();
    return true;
}

void FrameDraw(Engine* e) {
    RenderDevice* device = g_renderDevice;
    if (!device) return;
    if (e->currentVideo) {
        DrawVideoStep(e);
        return;
    }
    if (!e->currentScene) {
        device->Clear(0);
        return;
    }
    e->UpdateHover();
    // A hover handler may have switched the scene away.
    if (!e->currentScene) {
        device->Clear(0);
        return;
    }
    if (ComposePostEffects(e, nullptr)) return;
    if (!SceneThroughTarget(e) && e->freezeState != 2) {
        RenderCurrentScene(e);
        return;
    }
    float u = 1, v = 1;
    PostEffectSamplingScale(e, &u, &v);
    device->SetTexture(0, e->renderTarget);
    device->SetRenderMode(kModeTexturedQuad, 0xFFFFFFFFu);
    DrawTexturedRect(e->screenRect, 0, 0, u, v);
}

void FrameRenderCallbacks(Engine* e, float dt) {
    ScriptCall("OnGameRender()");
    if (e->editorMode != 1 && !e->currentVideo && e->currentScene && (e->currentScene->handlerBits & 0x40))
        ScriptCall("OnSceneUpdate(%f)", double(dt));
}

void FrameOrientListener(Engine* e) {
    if (!e->currentScene || !e->currentScene->listenerFollowsView) return;
    plat::Matrix m;
    D3DXMatrixRotationYawPitchRoll(&m, DegToRad(g_lookYaw), DegToRad(g_lookPitch), 0.0f);
    g_sound_device.SetListenerOrientation(m.m[2][0], m.m[2][1], m.m[2][2], m.m[1][0], m.m[1][1], m.m[1][2]);
}

void FrameAdvanceVideoClock(Engine* e) {
    if (!e->currentVideo || !e->window) return;
    e->videoClock += std::max(e->window->GetRawFrameTime(), e->window->frameTime);
}
