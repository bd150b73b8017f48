#pragma once
// The steps of a frame that capture, render and draw the scene or the
// full-screen video, and the ones that follow the scene (the scene's update
// handler, the 3-D listener, the video clock). FrameTick calls them in
// order.

struct Engine;

// Screenshot, freeze and dissolve captures: each renders into an off-screen
// target and takes the whole frame. True when one did (the frame then ends
// without presenting).
bool FrameCaptures(Engine* e);

// True when the scene is drawn through the render target this frame: a
// scene and no video, and post effects requested or a 2-D scene on a screen
// wider than the virtual one.
bool SceneThroughTarget(const Engine* e);

// Advances the video, or renders the scene into the render target when it
// is drawn through it. False when the target cannot be begun (after the
// "beginTagret ERROR" message): the game then ends.
bool FrameOffscreen(Engine* e);

// Draws the video with its borders and fade, or the scene through the
// post-effect chain (hover picking first), or clears the screen.
void FrameDraw(Engine* e);

// "OnGameRender()" then, unless in editor mode 1, with a scene that defines
// it and no video, "OnSceneUpdate(%f)" with dt.
void FrameRenderCallbacks(Engine* e, float dt);

// The 3-D listener turned to the look angles, when the scene asks for it.
void FrameOrientListener(Engine* e);

// After presenting: a playing video's clock moves by the frame's duration.
void FrameAdvanceVideoClock(Engine* e);
