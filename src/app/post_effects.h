#pragma once
// The post-effect chain: the scene, rendered into the screen-sized render
// target, is put on the screen (or into another target) through at most two
// full-screen passes, an optional chromatic aberration and then one of
// motion blur, glow, radial blur, a named post-effect shader, a lens view or
// a plain copy, each drawn as one screen quad that can be scaled and turned.
#include <cstdint>

struct Engine;
class GameScene;
class ShaderProgram;
struct ResourceRecord;
struct TextureRecord;

// Effect bits of the requested and active words (Engine::postFxRequested,
// Engine::postFxLast).
enum PostEffectBits : uint32_t {
    kPostMotionBlur = 1,
    kPostRadialBlur = 2,
    kPostGlow = 4,
    kPostShader = 8,     // the named post-effect shader
    kPostLensView = 16,
    kPostChromatic = 32, // chromatic aberration
    kPostScreenScale = 64,  // no pass of its own: keeps the chain running so the quad is scaled and turned
};
// Effects drawn by the post-effect shader.
constexpr uint32_t kPostShaderEffects = kPostGlow | kPostShader | kPostLensView;

// The chain's settings beside the two flag words of the engine; the screen
// scale x and y are the engine's scaleValue1 and scaleValue2.
struct PostEffects {
    ShaderProgram* shader = nullptr;  // glow, lens view and named-shader effects
    float glowStrength = 0.0f;        // constant "blurScale"
    float radialAmount = 0.0f;        // texture-coordinate step of the radial blur
    int32_t radialPassCount = 0;      // set to 4 by every radial-blur frame
    float screenRotation = 0.0f;      // degrees; 0 draws an unrotated quad
    ResourceRecord* colorMap = nullptr;  // second texture of the aberration, or null
    float c0[4] = {};                 // aberration offsets, constants "c0" and "c1"
    float c1[4] = {};
    // The current scene's view type (1: a 2-D scene); null until the scene
    // code provides it, and every scene then counts as 3-D.
    int32_t (*sceneViewType)(const GameScene* scene) = nullptr;
};

// The one set of settings.
PostEffects& GetPostEffects();
// Back to the defaults, keeping the scene view-type hook (shut-down: the
// shader and the colour-map record go with the device and the resources).
void ResetPostEffects();

// requested |= bits; requested &= ~bits.
void EnablePostEffects(Engine* e, uint32_t bits);
void DisablePostEffects(Engine* e, uint32_t bits);

// Once per frame before the frame's scene begins: accumulates the scene into
// the dissolve buffer for motion blur and copies the requested word to the
// active one. True when effects are requested and a current scene exists.
bool MotionBlurPass(Engine* e);

// The scaled, turned screen quad with the bound texture and render mode,
// sampling (u0, v0)-(u1, v1).
void DrawScreenQuad(Engine* e, float u0, float v0, float u1, float v1);

// Draws the finished image into the target, or to the current back buffer
// when it is null. False when no effect is active: nothing is drawn and the
// caller draws the scene target itself.
bool ComposePostEffects(Engine* e, TextureRecord* target);

// The part of the render target the scene fills: (1, 1), or for a 2-D scene
// whose virtual size differs from the screen size, virtual / screen size.
void PostEffectSamplingScale(const Engine* e, float* sx, float* sy);

// Calls of the script bindings.
// v above 0: radial-blur amount = v and the effect on; otherwise off.
void SetRadialBlurEffect(Engine* e, float amount);
// Glow strength = strength; on when it is not 0, shaders are on and the
// program "blur" exists, otherwise the shader is dropped and glow and named
// shader are off.
void SetGlowEffect(Engine* e, float strength);
// A non-empty name with shaders on: that program becomes the post-effect
// shader and the effect goes on; false (nothing changed) when there is no
// such program. An empty name or shaders off: the effect goes off.
bool SetPostEffectShader(Engine* e, const char* name);
// The same for the program "lensview" and the lens view.
bool SetLensViewEffect(Engine* e, bool on);
// k = n / 100000: offsets (k, -k, -k, k) and (k, k, -k, -k); n = 0 is off.
void SetChromaticAberration(Engine* e, int32_t n);
// On: scale and rotation as given; off: 1, 1 and 0.
void SetScreenScaleRotation(Engine* e, bool on, float scale_x, float scale_y, float rotation);
// The colour-map image, declared with the resource manager (null when the
// file does not exist).
void SetColorMap(const char* image_name);
