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
    // Frees every queued statement and clears the sequence-running and
    // statement-ready flags.
    void ClearStatements();

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

    // Scene rendering (app/scene_render.cpp). The render list is filled from
    // the current scene's lists (cube faces, pages, hotspots, points, fx,
    // patches, meshes, surfaces; an order of 0 becomes its list's default),
    // sorted by order and null terminated; it grows with the scene.
    uint32_t BuildRenderList();
    // Exact name in the objects, then the fonts, then the current scene's
    // hotspot, point, fx, patch, mesh and surface lists.
    EObject* FindObjectByName(const char* name);
    // The current scene's object with that script handle, or none.
    void SelectObject(const void* handle);
    // A unit direction: yaw and pitch in a cube scene (unless screen_space),
    // else the active camera's ray through the screen point.
    void DirectionAt(float out[3], float x, float y, bool screen_space) const;
    void GetMouseDirection(float out[3]) const;
    // Virtual (1024 x 768) and screen pixels; unchanged while a size is 0.
    void VirtualToScreen(int32_t* x, int32_t* y) const;
    void ScreenToVirtual(int32_t* x, int32_t* y) const;
    // One line in the current font from (x, y) to the screen's corner.
    void DrawText(const char* text, int32_t x, int32_t y, uint32_t colour);
    void DrawMeshWithCamera(EObject* mesh, int32_t x, int32_t y, int32_t w, int32_t h);
    // The editor's view of the hotspot map over the cube faces.
    void DrawHotspotDebug();

    // Input routing (app/engine_input.cpp): the window's callbacks, the
    // per-frame hover update and the hotspot under a screen point.
    void OnKeyDown(int key);
    void OnKeyUp(int key);
    void OnChar(int code);
    void OnMouseWheel(int delta);
    void OnMouseDown(int x, int y, int button);
    void OnMouseUp(int x, int y, int button);
    void UpdateHover();
    HotSpot* PickHotspot(int32_t x, int32_t y);
    // The pointer in whole pixels, virtual ones in a 2-D scene (capped at
    // the virtual size).
    void GetMousePos(int32_t* x, int32_t* y) const;

    // Sounds and the full-screen video (app/engine_media.cpp).
    ResourceRecord* DeclareSound(const char* name, int32_t channel, bool is3d);
    void PlaySound(ResourceRecord* record, bool loop, int32_t start);
    void PlayVideo(const char* name, bool not_skippable);
    void UpdateVideo();
    void StopVideo();

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
    uint32_t renderListCount = 0;
    uint32_t renderListCapacity = 0;  // entries, the terminator included
    StatementRecord* statementHead = nullptr;
    StatementRecord* statementTail = nullptr;

    // Scene, video and input state.
    const char* runningScriptScene = nullptr;
    GameScene* currentScene = nullptr;
    GameVideo* currentVideo = nullptr;
    uint32_t videoPlaying = 0;
    ResourceRecord* streamChannelSounds[8] = {};
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
    // The map view's missing pieces are logged once each.
    bool hotspotViewLookupReported = false;
    bool hotspotViewShaderReported = false;
    uint32_t buttonsDown = 0;
    bool quit = false;
    // Set by the shut-down once OnGameQuit has run: what it releases from
    // then on (render targets, sound) is not brought back by a script that
    // still runs, a finalizer run as the state closes.
    bool closing = false;
    bool displayInitialised = false;
    bool depthClearRequest = false;
    uint8_t gameHandlerBits = 0;

    // Set while a display reset reruns "main": a reset asked for then is
    // ignored, so a "main" that always asks cannot reset every frame.
    bool rerunningMain = false;

    // Scene drawing: the ambient colour (ge_setambientcolor) and the page
    // turn (0 none, +1 forwards, -1 backwards; its elapsed ms).
    uint32_t ambientColor = 0xFFFFFFFF;
    int32_t pageTurn = 0;
    int32_t pageTurnTime = 0;
    // The result of Init: "main" ran without an error.
    bool initSucceeded = false;
    // A frame ended the game loop by a failure (a display reset or the
    // scene could not begin), not by a quit.
    bool frameFailed = false;
    // The program's exit status once the game has ended: quit(status).
    int32_t exitStatus = 0;
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
