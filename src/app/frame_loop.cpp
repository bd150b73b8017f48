// One frame of the game, and the statement queue that runs scripted
// sequences one statement per frame.
#include <cstdlib>
#include <cstring>

#include "app/app_window.h"
#include "app/console.h"
#include "app/engine.h"
#include "app/frame_draw.h"
#include "app/post_effects.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/memory.h"
#include "media/resource_manager.h"
#include "media/sound.h"
#include "media/stream_channel.h"
#include "platform/guard.h"
#include "platform/system.h"
#include "render/d3d_render_device.h"
#include "script/lua_host.h"

namespace {

// Device states.
constexpr int kDeviceLost = 1;
constexpr int kDeviceNeedsReset = 2;

// The idle frame: sleep and keep the window answering. False when the
// window was closed.
bool IdleFrame(Engine* e) {
    plat::SleepMs(100);
    return e->window ? e->window->PumpMessages() : true;
}

}  // namespace

void ReportFinishedSoundChannels() {
    // Read and cleared in one step, so a channel finishing meanwhile is not
    // lost.
    uint32_t finished = TakeFinishedStreamChannels();
    for (int i = 0; i < 8; ++i)
        if (finished & (1u << i)) ScriptCall("OnGameSoundChannelFinished(%d)", i + 1);
}

namespace {

}  // namespace

void EndStatementSoundWait(Engine* e) {
    ResourceRecord* r = e->waitedSound;
    if (!r) return;
    auto* sound = r->type == kResourceSound ? static_cast<Sound*>(r->object) : nullptr;
    if (!sound || !sound->IsPlaying()) {
        e->waitedSound = nullptr;
        e->statementReady = true;
    }
}

namespace {

// Tests raise a fault in frame N with QUILD_FAULT_IN_FRAME=N.
void InjectedFault() {
    static const char* when = std::getenv("QUILD_FAULT_IN_FRAME");
    static int frames = 0;
    if (when && ++frames == std::atoi(when)) plat::RaiseAccessViolationForTesting();
}

}  // namespace

bool FrameTick() {
    Engine* e = CurrentEngine();
    if (!e) return false;
    e->inFrame = true;

    if (e->displayResetRequested) {
        e->displayResetRequested = false;
        return DisplayInit(true);
    }
    // "Never initialised" is tested first: the device may not exist yet.
    RenderDevice* device = g_renderDevice;
    if (!e->displayInitialised || !device) return IdleFrame(e);
    int state = device->GetDeviceState();
    if (state == kDeviceLost) return IdleFrame(e);
    if (state == kDeviceNeedsReset) return DisplayInit(true);
    if (!g_appActive) return IdleFrame(e);

    e->RunQueuedStatement();
    e->window->BeginFrame();
    InjectedFault();

    // A screenshot, freeze or dissolve capture takes this frame (nothing
    // presented).
    if (FrameCaptures(e)) return true;
    if (!FrameOffscreen(e)) return false;

    if (!e->window->PumpMessages()) {
        e->window->EndFrame();
        return false;
    }
    MotionBlurPass(e);
    if (!device->BeginScene()) return false;
    if (e->quit) return false;

    FrameDraw(e);

    EndStatementSoundWait(e);
    ReportFinishedSoundChannels();
    e->TransitionStep();
    FrameRenderCallbacks(e, FrameDeltaMs(static_cast<D3DRenderDevice*>(device)->refreshRate));
    ScriptCall("OnGameUpdate(%f)", static_cast<double>(FrameDeltaMs(static_cast<D3DRenderDevice*>(device)->refreshRate)));
    Resources().Tick();
    if (g_console && g_console->IsVisible()) g_console->Draw();
    FrameOrientListener(e);
    device->EndScene();
    e->window->EndFrame();
    FrameAdvanceVideoClock(e);
    return true;
}

void Engine::QueueStatements(const char* text) {
    if (!text) return;
    if (!statementReady) statementReady = !sequenceRunning;
    const char* start = text;
    for (;;) {
        const char* semi = std::strchr(start, ';');
        size_t len = semi ? static_cast<size_t>(semi - start) : std::strlen(start);
        auto* r = static_cast<StatementRecord*>(ObjectPool::NewRecord(sizeof(StatementRecord)));
        if (!r) break;
        r->text = StatementStrings().InternBytes(start, len);
        if (statementTail) statementTail->link = r;
        else statementHead = r;
        statementTail = r;
        if (!semi) break;
        start = semi + 1;
    }
    sequenceRunning = true;
}

namespace {

void PopStatement(Engine* e) {
    StatementRecord* head = e->statementHead;
    if (!head) return;
    e->statementHead = head->link;
    if (!e->statementHead) e->statementTail = nullptr;
    ObjectPool::DeleteRecord(head);
}

}  // namespace

bool Engine::RunQueuedStatement() {
    if (!statementHead) {
        if (statementReady) {
            StatementStrings().Clear();
            statementReady = false;
            sequenceRunning = false;
        }
        return sequenceRunning;
    }
    if (!statementReady) return true;
    statementReady = false;
    executingStatement = true;
    ScriptRun(statementHead->text);
    executingStatement = false;
    PopStatement(this);
    if (!statementReady) statementReady = statementHead && statementHead->text[0] == 0;
    if (statementReady) {
        waitedSound = nullptr;
        while (statementHead && statementHead->text[0] == 0) PopStatement(this);
    }
    return true;
}
