#include "app/post_effects.h"

#include "app/engine.h"
#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "platform/gpu/gpu_types.h"
#include "render/d3d_render_device.h"
#include "render/render_device.h"
#include "render/shader_program.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kBlurBlend = 0x60FFFFFFu;    // each motion-blur frame over the accumulation
constexpr uint32_t kRadialBlend = 0x33FFFFFFu;  // each radial-blur zoom
constexpr int32_t kRadialPasses = 4;
constexpr float kLensOffset = 0.1f;

PostEffects g_post_effects;

// The colour map's device texture, loading the image on first use.
TextureRecord* ColorMapTexture() {
    ResourceRecord* record = g_post_effects.colorMap;
    if (!record) return nullptr;
    Texture* texture = Resources().GetImage(record);
    return texture ? texture->device_texture : nullptr;
}

// Sampler 1 reads the colour map texel by texel, without wrapping; and back.
void ColorMapSampling(RenderDevice* device, bool exact) {
    using namespace plat::gpu;
    device->SetTextureFilter(1, 0, exact ? 0 : 1);
    device->SetTextureFilter(1, 1, exact ? 0 : 1);
    if (D3DRenderDevice* d3d = g_d3dRenderDevice) {
        d3d->SetSamplerStateCached(1, ss::AddressU, exact ? tadd::Clamp : tadd::Wrap);
        d3d->SetSamplerStateCached(1, ss::AddressV, exact ? tadd::Clamp : tadd::Wrap);
    }
}

// The chromatic-aberration pass from the source on stage 0. With the whole
// target as the quad it fills an intermediate buffer; otherwise it is the
// final, scaled and turned screen quad.
void DrawAberration(Engine* e, RenderDevice* device, ShaderProgram* program, TextureRecord* source,
                    TextureRecord* color_map, float sx, float sy, bool full_target) {
    const PostEffects& fx = g_post_effects;
    device->SetTexture(0, source);
    device->SetTexture(1, color_map);
    ColorMapSampling(device, true);
    device->BindShaderProgram(program);
    program->SetPixelConstantByName("c0", fx.c0, SHADER_VECTOR);
    program->SetPixelConstantByName("c1", fx.c1, SHADER_VECTOR);
    device->SetRenderMode(kModeTexturedQuad, kWhite);
    if (full_target)
        device->DrawRect(0, 0, e->screenRect.w, e->screenRect.h, 0.0f, 0.0f, sx, sy);
    else
        DrawScreenQuad(e, 0.0f, 0.0f, sx, sy);
    device->BindShaderProgram(nullptr);
    ColorMapSampling(device, false);
}

// A pass through the post-effect shader; the caller sets its constants
// between the bind and the draw.
void BindEffectShader(RenderDevice* device, TextureRecord* source) {
    device->SetTexture(0, source);
    device->BindShaderProgram(g_post_effects.shader);
    device->SetRenderMode(kModeTexturedQuad, kWhite);
}

}  // namespace

PostEffects& GetPostEffects() { return g_post_effects; }

void ResetPostEffects() {
    auto hook = g_post_effects.sceneViewType;
    g_post_effects = PostEffects();
    g_post_effects.sceneViewType = hook;
}

void EnablePostEffects(Engine* e, uint32_t bits) {
    if (e) e->postFxRequested |= bits;
}

void DisablePostEffects(Engine* e, uint32_t bits) {
    if (e) e->postFxRequested &= ~bits;
}

void PostEffectSamplingScale(const Engine* e, float* sx, float* sy) {
    *sx = *sy = 1.0f;
    if (!e || !e->currentScene || !g_post_effects.sceneViewType) return;
    if (g_post_effects.sceneViewType(e->currentScene) != 1) return;
    const Rect& v = e->virtualRect;
    const Rect& s = e->screenRect;
    if (s.w <= 0 || s.h <= 0 || (v.w == s.w && v.h == s.h)) return;
    *sx = static_cast<float>(v.w) / static_cast<float>(s.w);
    *sy = static_cast<float>(v.h) / static_cast<float>(s.h);
}

bool MotionBlurPass(Engine* e) {
    if (!e) return false;
    const uint32_t requested = e->postFxRequested;
    if (requested == 0 || !e->currentScene) {
        e->postFxLast = requested;
        return false;
    }
    RenderDevice* device = g_renderDevice;
    if ((requested & kPostMotionBlur) && !e->freezeState && !e->dissolveState && device &&
        device->BeginRenderTarget(e->dissolveBuffer) == 1) {
        float sx, sy;
        PostEffectSamplingScale(e, &sx, &sy);
        // The first frame copies the scene opaquely; later ones blend over it.
        const bool accumulating = (e->postFxLast & kPostMotionBlur) != 0;
        device->SetTexture(0, e->renderTarget);
        device->SetRenderMode(kModeTexturedQuad, accumulating ? kBlurBlend : kWhite);
        DrawTexturedRect(e->screenRect, 0.0f, 0.0f, sx, sy);
        device->EndRenderTarget();
    }
    e->postFxLast = requested;
    return true;
}

void DrawScreenQuad(Engine* e, float u0, float v0, float u1, float v1) {
    RenderDevice* device = g_renderDevice;
    if (!e || !device) return;
    const float w = static_cast<float>(e->screenRect.w), h = static_cast<float>(e->screenRect.h);
    const float scale_x = e->scaleValue1, scale_y = e->scaleValue2;
    Rect r(SaturateToInt(0.5 * w * (1.0 - scale_x)), SaturateToInt(0.5 * h * (1.0 - scale_y)),
           SaturateToInt(scale_x * w), SaturateToInt(scale_y * h));
    const float angle = g_post_effects.screenRotation;
    if (angle == 0.0f) {
        DrawTexturedRect(r, u0, v0, u1, v1);
        return;
    }
    // The turned quad samples the same part of the texture as the unturned one.
    ScreenTexVertex quad[4];
    RotatedQuadVertices(static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.w),
                        static_cast<float>(r.h), angle, quad);
    quad[0].u = quad[2].u = u0;
    quad[1].u = quad[3].u = u1;
    quad[0].v = quad[1].v = v0;
    quad[2].v = quad[3].v = v1;
    device->SetVertexArray(quad, sizeof(ScreenTexVertex));
    device->SetTexCoordArray(&quad[0].u, sizeof(ScreenTexVertex));
    device->DrawImmediate(4);
}

bool ComposePostEffects(Engine* e, TextureRecord* target) {
    RenderDevice* device = g_renderDevice;
    if (!e || !device) return false;
    uint32_t active = e->postFxLast;
    if (active == 0) return false;
    PostEffects& fx = g_post_effects;

    // Effects whose program is missing, or that need shaders while they are
    // off, are left out: the image is then drawn without them.
    if (!e->shadersOn || !fx.shader) active &= ~kPostShaderEffects;
    ShaderProgram* aberration = nullptr;
    TextureRecord* color_map = nullptr;
    if (active & kPostChromatic) {
        color_map = ColorMapTexture();
        if (e->shadersOn) aberration = device->FindShaderProgram(color_map ? "CrAbCM" : "CrAb");
        if (!aberration) active &= ~kPostChromatic;
    }

    float sx, sy;
    PostEffectSamplingScale(e, &sx, &sy);
    TextureRecord* source = e->renderTarget;
    if (active & kPostMotionBlur) {
        // The accumulation is a whole screen already scaled from the scene,
        // and cannot be both read and written by a capture into it.
        if (e->freezeState || e->dissolveState || target == e->dissolveBuffer) {
            active &= ~kPostMotionBlur;
        } else {
            source = e->dissolveBuffer;
            sx = sy = 1.0f;
        }
    }

    if (active == kPostChromatic) {
        if (target) device->BeginRenderTarget(target);
        DrawAberration(e, device, aberration, e->renderTarget, color_map, sx, sy, false);
        if (target) device->EndRenderTarget();
        return true;
    }
    if (active & kPostChromatic) {
        // Into the post-effect buffer unscaled and unturned: the final pass
        // scales and turns the quad once.
        if (device->BeginRenderTarget(e->postFxBuffer) == 1) {
            DrawAberration(e, device, aberration, source, color_map, sx, sy, true);
            device->EndRenderTarget();
            source = e->postFxBuffer;
            sx = sy = 1.0f;
        }
    }
    if (target) device->BeginRenderTarget(target);

    if (active & kPostMotionBlur) {
        device->SetTexture(0, source);
        device->SetRenderMode(kModeTexturedQuad, kWhite);
        DrawScreenQuad(e, 0.0f, 0.0f, 1.0f, 1.0f);
    } else if (active & kPostGlow) {
        BindEffectShader(device, source);
        fx.shader->SetPixelConstantByName("blurScale", &fx.glowStrength, SHADER_FLOAT);
        DrawScreenQuad(e, 0.0f, 0.0f, sx, sy);
        device->BindShaderProgram(nullptr);
    } else if (active & kPostRadialBlur) {
        device->SetTexture(0, source);
        device->SetRenderMode(kModeTexturedQuad, kWhite);
        DrawScreenQuad(e, 0.0f, 0.0f, sx, sy);
        fx.radialPassCount = kRadialPasses;
        device->SetRenderMode(kModeTexturedQuad, kRadialBlend);
        const float step = fx.radialAmount * 4.0f / static_cast<float>(fx.radialPassCount);
        for (int32_t k = 1; k <= fx.radialPassCount; ++k) {
            const float t = static_cast<float>(k) * step;
            DrawScreenQuad(e, t, t, sx - t, sy - t);
        }
    } else if (active & kPostShader) {
        BindEffectShader(device, source);
        DrawScreenQuad(e, 0.0f, 0.0f, sx, sy);
        device->BindShaderProgram(nullptr);
    } else if (active & kPostLensView) {
        BindEffectShader(device, source);
        const float width_height[4] = {sx, sy, 0.0f, kLensOffset};
        fx.shader->SetPixelConstantByName("widthheight", width_height, SHADER_VECTOR);
        fx.shader->SetPixelConstantByName("offset", &kLensOffset, SHADER_FLOAT);
        DrawScreenQuad(e, -1.0f, -1.0f, 1.0f, 1.0f);
        device->BindShaderProgram(nullptr);
    } else {
        device->SetTexture(0, source);
        device->SetRenderMode(kModeTexturedQuad, kWhite);
        DrawScreenQuad(e, 0.0f, 0.0f, sx, sy);
    }

    if (target) device->EndRenderTarget();
    return true;
}

void SetRadialBlurEffect(Engine* e, float amount) {
    if (amount > 0.0f) {
        g_post_effects.radialAmount = amount;
        EnablePostEffects(e, kPostRadialBlur);
    } else {
        DisablePostEffects(e, kPostRadialBlur);
    }
}

void SetGlowEffect(Engine* e, float strength) {
    if (!e) return;
    g_post_effects.glowStrength = strength;
    ShaderProgram* blur = nullptr;
    if (strength != 0.0f && e->shadersOn && g_renderDevice) blur = g_renderDevice->FindShaderProgram("blur");
    if (blur) {
        g_post_effects.shader = blur;
        EnablePostEffects(e, kPostGlow);
    } else {
        g_post_effects.shader = nullptr;
        DisablePostEffects(e, kPostGlow | kPostShader);
    }
}

namespace {

// A shader effect on with its program, or off.
bool SetShaderEffect(Engine* e, const char* program_name, bool on, uint32_t bit) {
    if (!e) return false;
    if (!on || !e->shadersOn) {
        DisablePostEffects(e, bit);
        return true;
    }
    ShaderProgram* program = g_renderDevice ? g_renderDevice->FindShaderProgram(program_name) : nullptr;
    if (!program) return false;
    g_post_effects.shader = program;
    EnablePostEffects(e, bit);
    return true;
}

}  // namespace

bool SetPostEffectShader(Engine* e, const char* name) {
    return SetShaderEffect(e, name, name && name[0], kPostShader);
}

bool SetLensViewEffect(Engine* e, bool on) { return SetShaderEffect(e, "lensview", on, kPostLensView); }

void SetChromaticAberration(Engine* e, int32_t n) {
    const float k = static_cast<float>(n) / 100000.0f;
    PostEffects& fx = g_post_effects;
    fx.c0[0] = k, fx.c0[1] = -k, fx.c0[2] = -k, fx.c0[3] = k;
    fx.c1[0] = k, fx.c1[1] = k, fx.c1[2] = -k, fx.c1[3] = -k;
    if (n == 0)
        DisablePostEffects(e, kPostChromatic);
    else
        EnablePostEffects(e, kPostChromatic);
}

void SetScreenScaleRotation(Engine* e, bool on, float scale_x, float scale_y, float rotation) {
    if (!e) return;
    e->scaleValue1 = on ? scale_x : 1.0f;
    e->scaleValue2 = on ? scale_y : 1.0f;
    g_post_effects.screenRotation = on ? rotation : 0.0f;
    if (on)
        EnablePostEffects(e, kPostScreenScale);
    else
        DisablePostEffects(e, kPostScreenScale);
}

void SetColorMap(const char* image_name) {
    g_post_effects.colorMap = Resources().DeclareImage(image_name, 0);
}
