// One frame of the game, and the statement queue that runs scripted
// sequences one statement per frame.
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "app/app_window.h"
#include "app/console.h"
#include "app/engine.h"
#include "app/frame_draw.h"
#include "app/frame_pacer.h"
#include "app/post_effects.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/memory.h"
#include "media/resource_manager.h"
#include "media/sound/sound.h"
#include "media/sound/stream_channel.h"
#include "platform/gpu/gl_api.h"
#include "platform/guard.h"
#include "platform/system.h"
#include "render/d3d_render_device.h"
#include "script/engine_work.h"
#include "script/lua_host.h"
#include "script/script_watch.h"

namespace {

FramePacer g_pacer;

// Device states.
constexpr int kDeviceLost = 1;
constexpr int kDeviceNeedsReset = 2;

// The idle frame: sleep and keep the window answering. False when the
// window was closed.
bool IdleFrame(Engine* e) {
    plat::SleepMs(100);
    return e->window ? e->window->PumpMessages() : true;
}

// A reset that fails ends the game as a failure.
bool ResetDisplayInFrame(Engine* e) {
    if (DisplayInit(true)) return true;
    e->frameFailed = true;
    return false;
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

void FaultInsideTheDriver() {
    void* page = mmap(nullptr, 1 << 16, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 64, 64, GL_RGBA, GL_UNSIGNED_BYTE, page);  // reads the page
}

// Tests raise a fault in frame N with QUILD_FAULT_IN_FRAME=N; with
// QUILD_FAULT_IN_DRIVER=N the fault happens inside the GL driver, which
// is then left holding whatever locks it held.
void InjectedFault() {
    static const char* when = std::getenv("QUILD_FAULT_IN_FRAME");
    static const char* in_driver = std::getenv("QUILD_FAULT_IN_DRIVER");
    static int frames = 0;
    ++frames;
    if (when && frames == std::atoi(when)) plat::RaiseAccessViolationForTesting();
    if (in_driver && frames == std::atoi(in_driver)) FaultInsideTheDriver();
}

}  // namespace

bool FrameTick() {
    Engine* e = CurrentEngine();
    if (!e) return false;
    e->inFrame = true;
    // Nothing runs between frames: whatever Lua freed inside engine work is
    // released by now.
    RunWaitingReleases();
    // A signal or a close seen by the script watch ends the game here, with
    // the ordinary shut-down.
    if (TakeTerminationRequest()) {
        LogPrintf("[EXITING] : termination requested");
        e->quit = true;
        return false;
    }

    if (e->displayResetRequested) {
        e->displayResetRequested = false;
        return ResetDisplayInFrame(e);
    }
    // "Never initialised" is tested first: the device may not exist yet.
    RenderDevice* device = g_renderDevice;
    if (!e->displayInitialised || !device) return IdleFrame(e);
    int state = device->GetDeviceState();
    if (state == kDeviceLost) return IdleFrame(e);
    if (state == kDeviceNeedsReset) return ResetDisplayInFrame(e);
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
    if (!device->BeginScene()) {
        e->frameFailed = true;
        return false;
    }
    if (e->quit) return false;

    FrameDraw(e);

    EndStatementSoundWait(e);
    ReportFinishedSoundChannels();
    e->TransitionStep();
    const float dt = FrameDeltaMs(static_cast<D3DRenderDevice*>(device)->refreshRate);
    FrameRenderCallbacks(e, dt);
    ScriptCall("OnGameUpdate(%f)", static_cast<double>(dt));
    Resources().Tick();
    if (g_console && g_console->IsVisible()) g_console->Draw();
    FrameOrientListener(e);
    device->EndScene();
    e->window->EndFrame();
    g_pacer.AfterPresent(*e->window, 1000.0f / dt);
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

void Engine::ClearStatements() {
    for (StatementRecord* s = statementHead; s;) {
        StatementRecord* next = s->link;
        ObjectPool::DeleteRecord(s);
        s = next;
    }
    statementHead = statementTail = nullptr;
    sequenceRunning = false;
    statementReady = false;
    // The waits of the dropped sequence go with it.
    transitionByStatement = false;
    waitedSound = nullptr;
}

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
    // A wait belongs to the statement that started it: one still armed now
    // was left by a statement released early (ge_nexttask), and must not
    // release this one when it ends.
    transitionByStatement = false;
    waitedSound = nullptr;
    // The record leaves the queue before it runs: a statement that empties
    // the queue and queues new ones keeps what it queued.
    StatementRecord* running = statementHead;
    statementHead = running->link;
    if (!statementHead) statementTail = nullptr;
    running->link = nullptr;
    executingStatement = true;
    ScriptRun(running->text);
    executingStatement = false;
    ObjectPool::DeleteRecord(running);
    if (!statementReady) statementReady = statementHead && statementHead->text[0] == 0;
    if (statementReady) {
        waitedSound = nullptr;
        while (statementHead && statementHead->text[0] == 0) PopStatement(this);
    }
    return true;
}
