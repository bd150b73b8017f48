#pragma once
// The single game instance: its lists of scenes, fonts, videos, texts and
// loose objects, the window, the render targets, the scene and transition
// state, the statement queue and the input state; its start-up, display
// initialisation and shut-down.
#include <cstdint>

#include "base/object_list.h"
#include "base/string_pool.h"
#include "base/text.h"

class AppWindow;
class Camera;
class EObject;
class GameScene;
class GameFont;
class GameVideo;
class GameText;
class HotSpot;
struct CompiledScript;
struct TextureRecord;
struct ResourceRecord;

// One queued statement (the record header comes first).
struct StatementRecord {
    StatementRecord* link;
    size_t size;
    void* self;
    const char* text;  // interned in the statement pool
};

// Display initialisation error codes.
enum InitError : int32_t {
    kInitOk = 0,
    kInitWindow = 1,
    kInitRenderTarget = 2,
    kInitBuffer = 3,
    kInitSound = 4,
    kInitListener = 5,
};

struct Engine {
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool Init();
    void Shutdown();
    // Writes the picture of a render target as a JPEG or TGA file (by the
    // name's extension, ".jpg" added when it has none) into the per-user
    // folder; 0 once the file is written, -1 otherwise.
    int SaveScreenshot(TextureRecord* target, const char* name, int quality);
    void QueueStatements(const char* text);
    bool RunQueuedStatement();

    // Scene switching and transitions (app/scene_switch.cpp).
    void RequestSceneSwitch(const char* name, bool run_leave_handlers);
    void StartWalk(const char* name, float distance, float duration);
    void StartDissolve(const char* name, int32_t zoom);
    void TurnToPage(int32_t index);
    void TransitionStep();
    bool SaveScene(GameScene* scene);
    void DeleteObject(EObject* object);
    // Clears every engine pointer into the object (selection, hotspot
    // picks, render list, current scene's references) before it is freed.
    void ForgetObject(const EObject* object);

    // Object lists.
    ObjectList<EObject> objects;
    ObjectList<GameVideo> videos;
    ObjectList<GameFont> fonts;
    ObjectList<GameScene> scenes;
    ObjectList<GameText> texts;
    ObjectList<HotSpot> globalHotspots;

    // Owned objects and resources.
    AppWindow* window = nullptr;
    GameFont* currentFont = nullptr;
    GameFont* systemFont = nullptr;
    StringPool namePool;
    TextureRecord* renderTarget = nullptr;
    TextureRecord* dissolveBuffer = nullptr;
    TextureRecord* postFxBuffer = nullptr;
    Camera* defaultCamera = nullptr;
    Camera* activeCamera = nullptr;
    EObject** renderList = nullptr;
    StatementRecord* statementHead = nullptr;
    StatementRecord* statementTail = nullptr;

    // Scene, video and input state.
    const char* runningScriptScene = nullptr;
    GameScene* currentScene = nullptr;
    GameVideo* currentVideo = nullptr;
    uint32_t videoPlaying = 0;
    ResourceRecord* streamChannelSounds[8] = {};
    bool videoMayAdvance = false;
    uint32_t soundStreamThreshold = 358400;
    uint32_t videoFade = 0;
    float videoClock = 0;
    bool videoNotSkippable = false;
    HotSpot* hoveredHotspot = nullptr;
    HotSpot* rawPickedHotspot = nullptr;
    HotSpot* pressedHotspot = nullptr;
    Rect screenRect;
    Rect virtualRect;
    int32_t initErrorCode = kInitOk;
    const char* initErrorText = nullptr;
    bool shadersOn = false;
    bool shadersSupported = false;
    bool displayResetRequested = false;
    bool inFrame = false;

    // Statement queue flags.
    bool statementReady = false;
    bool sequenceRunning = false;
    bool executingStatement = false;
    bool transitionByStatement = false;
    ResourceRecord* waitedSound = nullptr;
    int32_t freezeState = 0;
    float captureScaleU = 1, captureScaleV = 1;
    int32_t dissolveState = 0;  // 0 none, 1 capture requested, 2 switch, 3 fading

    // Transitions.
    bool switchPending = false;
    int32_t walkState = 0;  // 0 none, 1 walking
    float walkTime = 0, walkDuration = 0, walkDistance = 0, walkProgress = 0;
    float walkDirection[3] = {};
    int32_t dissolveTime = 0;  // ms
    int32_t dissolveZoom = 0;  // 1: zoom while fading
    bool runLeaveHandlers = false;
    const char* targetName = nullptr;  // interned in the common pool

    // Screenshots and post effects.
    const char* screenshotName = nullptr;
    int32_t screenshotQuality = 0;
    int32_t screenshotWidth = 640, screenshotHeight = 480;
    float scaleValue1 = 1.0f, scaleValue2 = 1.0f;
    uint32_t postFxRequested = 0;
    uint32_t postFxLast = 0;

    // Editor and input.
    bool sceneModified = false;
    bool sceneInputEnabled = false;
    bool hotspotEventsEnabled = false;
    uint32_t editorMode = 0;
    int32_t positionMode = 0;
    EObject* selectedObject = nullptr;
    bool hotspotViewRequest = false;
    uint32_t buttonsDown = 0;
    bool quit = false;
    bool displayInitialised = false;
    bool depthClearRequest = false;
    uint8_t gameHandlerBits = 0;

    // View state set by the display and camera script functions: the look
    // angles (degrees) of cube scenes and the walk offset added to the
    // camera's eye.
    float lookYaw = 0, lookPitch = 0;
    float walkOffset[3] = {};

    // Set while a display reset reruns "main": a reset asked for then is
    // ignored, so a "main" that always asks cannot reset every frame.
    bool rerunningMain = false;

    // Scene drawing: the ambient colour (ge_setambientcolor) and the page
    // turn (0 none, +1 forwards, -1 backwards; its elapsed ms).
    uint32_t ambientColor = 0xFFFFFFFF;
    int32_t pageTurn = 0;
    int32_t pageTurnTime = 0;
};

// The engine, created and initialised on first use.
Engine* GetEngine();
// The engine if it exists (no creation).
Engine* CurrentEngine();
// Makes an engine the one CurrentEngine answers without initialising it
// (tests of the code that reads engine state); null clears it.
void SetCurrentEngine(Engine* e);

// Window, device, render targets and sound; reset reruns "main".
bool DisplayInit(bool reset);

// One frame; false ends the game loop.
bool FrameTick();

// A statement waiting on a sound goes on (statement ready) once that sound
// resource is gone or has stopped playing.
void EndStatementSoundWait(Engine* e);

// Calls "OnGameSoundChannelFinished(%d)" for each stream channel that
// finished since the last frame, lowest first.
void ReportFinishedSoundChannels();

// The statement string pool.
StringPool& StatementStrings();

// dt of a frame: 1000 / the display's refresh rate (60 Hz when unknown).
float FrameDeltaMs(int32_t refresh_rate);

// The build mode and the command line handed to the application main.
const char* BuildMode();
void SetBuildMode(const char* text);
const char* CommandLine();
void SetCommandLine(const char* text);
