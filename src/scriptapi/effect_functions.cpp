// Script functions that switch the post effects: motion blur, radial blur,
// glow, named post-effect shaders, the lens view, chromatic aberration,
// screen scale and rotation, and the colour map.
#include <string>

extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "app/post_effects.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"

namespace {

// A missing shader program is reported through the script's own alert; the
// name goes in as an argument, never pasted into Lua text.
void AlertMissingShader(const char* name) {
    std::string message = std::string("PostFx Shader Not Found: ") + (name ? name : "");
    ScriptCall("_ALERT(%s)", message.c_str());
}

// ge_motionblurfx(on): reads the last argument.
int MotionBlurFx(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    const int last = lua_gettop(L);
    if (last > 0 && lua_toboolean(L, last))
        EnablePostEffects(e, kPostMotionBlur);
    else
        DisablePostEffects(e, kPostMotionBlur);
    return 0;
}

// ge_radialblurfx(amount): reads the last argument; 0 or less is off.
int RadialBlurFx(lua_State* L) {
    Engine* e = CurrentEngine();
    const int last = lua_gettop(L);
    if (e) SetRadialBlurEffect(e, last > 0 ? float(lua_tonumber(L, last)) : 0.0f);
    return 0;
}

// ge_glowfx(on or strength): true is the strength 0.0078.
int GlowFx(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    float strength = 0.0f;
    if (lua_type(L, 1) == LUA_TBOOLEAN)
        strength = lua_toboolean(L, 1) ? 0.0078f : 0.0f;
    else if (lua_type(L, 1) == LUA_TNUMBER)
        strength = float(lua_tonumber(L, 1));
    SetGlowEffect(e, strength);
    return 0;
}

// ge_postfx(name): reads the last argument; an empty name is off.
int PostFx(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    const char* name = script_args::LastText(L);
    if (!SetPostEffectShader(e, name ? name : "")) AlertMissingShader(name);
    return 0;
}

int LensViewFx(lua_State* L) {
    Engine* e = CurrentEngine();
    if (e && !SetLensViewEffect(e, lua_toboolean(L, 1) != 0)) AlertMissingShader("lensview");
    return 0;
}

int CrabFx(lua_State* L) {
    if (Engine* e = CurrentEngine()) SetChromaticAberration(e, script_args::Int(L, 1));
    return 0;
}

int SetScreenScaleRot(lua_State* L) {
    if (Engine* e = CurrentEngine())
        SetScreenScaleRotation(e, lua_toboolean(L, 1) != 0, script_args::Float(L, 2), script_args::Float(L, 3),
                               script_args::Float(L, 4));
    return 0;
}

int SetColorMapFn(lua_State* L) {
    SetColorMap(script_args::Text(L, 1));
    return 0;
}

ScriptFunctionRecord s_ge_crabfx("ge_crabfx", CrabFx);
ScriptFunctionRecord s_ge_motionblurfx("ge_motionblurfx", MotionBlurFx);
ScriptFunctionRecord s_ge_glowfx("ge_glowfx", GlowFx);
ScriptFunctionRecord s_ge_radialblurfx("ge_radialblurfx", RadialBlurFx);
ScriptFunctionRecord s_ge_setscreenscalerot("ge_setscreenscalerot", SetScreenScaleRot);
ScriptFunctionRecord s_ge_lensviewfx("ge_lensviewfx", LensViewFx);
ScriptFunctionRecord s_ge_postfx("ge_postfx", PostFx);
ScriptFunctionRecord s_ge_setcolormap("ge_setcolormap", SetColorMapFn);

}  // namespace
