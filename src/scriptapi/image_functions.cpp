// Script functions of image resources: im_get, im_remove, im_getsize,
// im_render (stretched into a rectangle or at a point) and im_render_src (a
// source rectangle of the image, optionally through a shader program).
// Images travel as resource records, accepted only while registered.
extern "C" {
#include <lua.h>
}

#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "platform/gpu/gpu_types.h"
#include "render/d3d_render_device.h"
#include "render/render_device.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "scriptapi/draw_functions.h"
#include "scriptapi/rect_functions.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::Int;

// The image record of argument i: a live resource record of an image.
ResourceRecord* ImageArg(lua_State* L, int i) {
    auto* record = static_cast<ResourceRecord*>(ScriptArgHandle(L, i, ScriptHandleKind::kResource));
    return record && record->type == kResourceImage ? record : nullptr;
}

// The loaded texture of argument i, or null (no record, or it cannot load).
Texture* TextureArg(lua_State* L, int i) {
    Texture* texture = Resources().GetImage(ImageArg(L, i));
    return texture && texture->device_texture ? texture : nullptr;
}

bool IsColourArg(lua_State* L, int i) { return lua_type(L, i) == LUA_TSTRING || lua_type(L, i) == LUA_TNUMBER; }

// im_get(name): the image's record, declared when its file exists.
int Get(lua_State* L) {
    const char* name = script_args::Text(L, 1);
    return script_args::PushHandleOrNil(L, name ? Resources().DeclareImage(name, 0) : nullptr);
}

// im_remove(image): unloads the texture; the record stays for a reload.
int Remove(lua_State* L) {
    if (ResourceRecord* record = ImageArg(L, 1)) Resources().Remove(record, false);
    return 0;
}

int GetSize(lua_State* L) {
    Texture* texture = Resources().GetImage(ImageArg(L, 1));
    lua_pushnumber(L, texture ? texture->width : 0);
    lua_pushnumber(L, texture ? texture->height : 0);
    return 2;
}

// im_render(image, rect, colour, flags) or im_render(image, x, y, colour,
// flags); both moved by the drawing offset. An image that cannot load draws
// nothing.
//
// The colour is read before the texture is taken: turning a number into
// text may run a finaliser that unloads the image.
int Render(lua_State* L) {
    if (!ImageArg(L, 1)) return 0;
    const ScriptDrawOffset& offset = DrawOffset();
    if (lua_type(L, 2) == LUA_TLIGHTUSERDATA) {
        const uint32_t colour = IsColourArg(L, 3) ? ScriptArgColor(L, 3, 0xFFFFFFFFu) : 0xFFFFFFFFu;
        const Rect* r = ScriptArgRect(L, 2);
        Texture* texture = r ? TextureArg(L, 1) : nullptr;
        if (!texture) return 0;
        const Rect moved(SaturateToInt(double(r->x) + offset.x), SaturateToInt(double(r->y) + offset.y), r->w, r->h);
        texture->DrawInRect(moved, colour, uint32_t(Int(L, 4)));
        return 0;
    }
    if (lua_type(L, 2) != LUA_TNUMBER) return 0;
    const uint32_t colour = IsColourArg(L, 4) ? ScriptArgColor(L, 4, 0xFFFFFFFFu) : 0xFFFFFFFFu;
    Texture* texture = TextureArg(L, 1);
    if (!texture) return 0;
    const int32_t x = SaturateToInt(double(Int(L, 2)) + offset.x);
    const int32_t y = SaturateToInt(double(Int(L, 3)) + offset.y);
    if (lua_type(L, 5) == LUA_TNUMBER)
        texture->DrawAt(x, y, colour, uint32_t(Int(L, 5)));
    else if (colour == 0xFFFFFFFFu)
        texture->DrawAtDefault(x, y);
    else
        texture->DrawAt(x, y, colour, 0);
    return 0;
}

void SetCulling(RenderDevice* device, uint32_t mode) {
    device->FlushBatch();
    if (g_d3dRenderDevice && static_cast<RenderDevice*>(g_d3dRenderDevice) == device)
        g_d3dRenderDevice->SetRenderStateCached(plat::gpu::rs::CullMode, mode);
}

// im_render_src(image, destination, source, colour, shader): the source
// rectangle (image pixels) stretched over the destination, which the
// drawing offset does not move; a negative width or height mirrors.
int RenderSource(lua_State* L) {
    RenderDevice* device = g_renderDevice;
    if (!device || !ImageArg(L, 1)) return 0;
    const uint32_t colour = ScriptArgColor(L, 4, 0xFFFFFFFFu);  // first, as in Render
    const Rect* dst = ScriptArgRect(L, 2);
    const Rect* src = ScriptArgRect(L, 3);
    Texture* texture = TextureArg(L, 1);
    if (!dst || !src || !texture || texture->width <= 0 || texture->height <= 0) return 0;
    device->SetTexture(0, texture->device_texture);
    device->SetRenderMode(texture->flags | kModeTexturedQuad, colour);
    const bool mirrored = dst->w < 0 || dst->h < 0;
    if (mirrored) SetCulling(device, 1);
    ShaderProgram* program = nullptr;
    if (const char* name = lua_type(L, 5) == LUA_TSTRING ? lua_tostring(L, 5) : nullptr) {
        program = device->FindShaderProgram(name);
        device->BindShaderProgram(program);
    }
    const float W = float(texture->width), H = float(texture->height);
    DrawTexturedRect(*dst, float(src->x) / W, float(src->y) / H, float(double(src->x) + src->w) / W,
                     float(double(src->y) + src->h) / H);
    if (mirrored) SetCulling(device, 3);
    if (program) device->BindShaderProgram(nullptr);
    return 0;
}

ScriptFunctionRecord s_im_get("im_get", Get);
ScriptFunctionRecord s_im_remove("im_remove", Remove);
ScriptFunctionRecord s_im_render_src("im_render_src", RenderSource);
ScriptFunctionRecord s_im_render("im_render", Render);
ScriptFunctionRecord s_im_getsize("im_getsize", GetSize);

}  // namespace
