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
    void QueueStatements(const char* text);
    bool RunQueuedStatement();

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
    int32_t dissolveState = 0;

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

    // Set while a display reset reruns "main": a reset asked for then is
    // ignored, so a "main" that always asks cannot reset every frame.
    bool rerunningMain = false;
    // The result of Init: "main" ran without an error.
    bool initSucceeded = false;
    // A frame ended the game loop by a failure (a display reset or the
    // scene could not begin), not by a quit.
    bool frameFailed = false;
};

// The engine, created and initialised on first use.
Engine* GetEngine();
// The engine if it exists (no creation).
Engine* CurrentEngine();

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
