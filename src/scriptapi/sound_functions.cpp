// Script functions of sounds: volumes, streaming settings, stopping and
// removing sounds, the sound glide between scenes, and positioned sounds
// played from scripts, which a running statement sequence may wait for.
//
// Stream channels are numbered 1..8 here; a channel outside that range is
// ignored (or answers nil/false), except in snd_setstreamfadefx, which wraps
// it into the eight.
#include <cmath>
#include <cstdio>

extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "app/engine_media.h"
#include "media/resource_manager.h"
#include "media/sound/sound.h"
#include "media/sound/stream_channel.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/point_object.h"
#include "scene/sound_glide.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::Float;
using script_args::Int;

// The 0-based stream channel of a script's channel number 1..8, or -1.
int ChannelIndex(lua_State* L, int i) {
    const int32_t n = Int(L, i);
    return n >= 1 && n <= kStreamChannelCount ? n - 1 : -1;
}

// A pointer that is a sound record still in the resource manager's list;
// anything else (stale, foreign, another kind) is null.
ResourceRecord* LiveSoundRecord(const void* p) {
    if (!p) return nullptr;
    for (ResourceRecord* r = Resources().First(); r; r = r->next)
        if (r == p) return r->type == kResourceSound ? r : nullptr;
    return nullptr;
}

// The loaded sound of a record, without loading it.
Sound* LoadedSound(const ResourceRecord* r) {
    return r && r->type == kResourceSound ? static_cast<Sound*>(r->object) : nullptr;
}

// ------------------------------------------------------------- settings

int SetSfxVolumeFn(lua_State* L) {
    SetSfxVolume(Float(L, 1));
    return 0;
}

// snd_setmusicvolume(entry 0..7, volume): other entries are ignored.
int SetMusicVolume(lua_State* L) {
    const int32_t entry = Int(L, 1);
    if (entry >= 0 && entry < kStreamChannelCount) SetStreamChannelVolume(unsigned(entry), Float(L, 2));
    return 0;
}

// snd_setvolume(sound, volume). A sound already declared is taken as it
// is: declaring it again as a plain 2-D sound would unload (and silence) a
// playing 3-D one.
int SetVolume(lua_State* L) {
    ResourceRecord* r = lua_type(L, 1) == LUA_TSTRING ? Resources().FindByName(lua_tostring(L, 1)) : nullptr;
    if (!r || r->type != kResourceSound) r = ScriptArgSound(L, nullptr, 1, 0, false);
    if (Sound* s = LoadedSound(r)) s->SetVolume(Float(L, 2));
    return 0;
}

// Seconds of a new stream buffer, held to 0.1 .. 5.0 (NaN: the shortest).
int SetStreamBufferSize(lua_State* L) {
    const float s = Float(L, 1);
    g_stream_buffer_seconds = std::isnan(s) || s < 0.1f ? 0.1f : s > 5.0f ? 5.0f : s;
    return 0;
}

// Notification segments of a new stream buffer, 3 .. 8; read unsigned, so
// a negative count is the largest.
int SetStreamNotifyCount(lua_State* L) {
    const uint32_t n = uint32_t(Int(L, 1));
    g_stream_notify_count = n < 3 ? 3 : n > 8 ? 8 : n;
    return 0;
}

// snd_setstreamfadefx(channel, on): the channel wraps into 1..8 (9 is 1, 0
// is 8); off makes it switch sources without fading.
int SetStreamFadeFx(lua_State* L) {
    const int64_t wrapped = ((int64_t(Int(L, 1)) - 1) % kStreamChannelCount + kStreamChannelCount) % kStreamChannelCount;
    g_stream_channels[wrapped].no_fade = !lua_toboolean(L, 2);
    return 0;
}

// snd_getstreamfilesizethreshold(kilobytes): sets the size above which a
// sound file is streamed; held to what 32 bits of bytes can say.
int SetStreamThreshold(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    const int64_t bytes = int64_t(Int(L, 1)) * 1024;
    e->soundStreamThreshold = bytes < 0 ? 0 : bytes > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(bytes);
    return 0;
}

int SetHwMixing(lua_State* L) {
    g_software_buffers = lua_toboolean(L, 1) ? 0 : 1;
    return 0;
}

// ------------------------------------------------------- stopping sounds

// The name of the sound last played on a channel, nil when none.
int GetStreamingSound(lua_State* L) {
    Engine* e = CurrentEngine();
    const int ch = ChannelIndex(L, 1);
    const ResourceRecord* r = e && ch >= 0 ? LiveSoundRecord(e->streamChannelSounds[ch]) : nullptr;
    return script_args::PushTextOrNil(L, r ? r->name : nullptr);
}

// snd_stop(channel) ends whatever the channel plays at its worker's next
// wake-up and forgets it at once; snd_stop(name or record) stops that sound.
int Stop(lua_State* L) {
    if (lua_type(L, 1) == LUA_TNUMBER) {
        const int ch = ChannelIndex(L, 1);
        if (ch < 0) return 0;
        g_stream_channels[ch].PostCommand(kStreamSwitch);
        if (Engine* e = CurrentEngine()) e->streamChannelSounds[ch] = nullptr;
        return 0;
    }
    ResourceRecord* r = nullptr;
    const char* name = lua_type(L, 1) == LUA_TSTRING ? lua_tostring(L, 1) : nullptr;
    if (name && *name) {
        r = Resources().FindByName(name);
        if (r && r->type != kResourceSound) r = nullptr;
    } else if (lua_type(L, 1) == LUA_TLIGHTUSERDATA) {
        r = LiveSoundRecord(lua_touserdata(L, 1));
    }
    if (Sound* s = LoadedSound(r)) s->Stop();
    return 0;
}

int StopAll(lua_State*) {
    for (ResourceRecord* r = Resources().First(); r; r = r->next)
        if (Sound* s = LoadedSound(r)) s->Stop();
    return 0;
}

// snd_remove(record): unloads the sound and removes its record for good.
// The caller gets its last argument back (scripts assign the call).
int Remove(lua_State* L) {
    ResourceRecord* r = lua_type(L, 1) == LUA_TLIGHTUSERDATA ? LiveSoundRecord(lua_touserdata(L, 1)) : nullptr;
    if (r) {
        if (Engine* e = CurrentEngine()) {
            for (ResourceRecord*& played : e->streamChannelSounds)
                if (played == r) played = nullptr;
            if (e->waitedSound == r) {
                e->waitedSound = nullptr;
                e->statementReady = true;
            }
        }
        Resources().Remove(r, true);
    }
    return script_args::GiveBackLastArgument(L);
}

// ge_animate3Dsounds(t): the gliding sounds at fraction t, held to 0..1.
int Animate3DSounds(lua_State* L) {
    const float t = Float(L, 1);
    UpdateSoundGlide(std::isnan(t) || t < 0.0f ? 0.0f : t > 1.0f ? 1.0f : t);
    return 0;
}

// -------------------------------------------------- sounds from scripts

// Where a script places a sound: a point of the current scene (its angles
// and distance), a view-direction hotspot (its region's centre at 1000) or
// "yaw,pitch,distance". False when the text names nothing and reads as no
// numbers.
bool ResolvePlace(Engine* e, const char* where, float* yaw, float* pitch, float* distance) {
    *distance = 1000.0f;
    GameScene* scene = e->currentScene;
    if (const PointSceneObject* p = scene ? ListFindByName(scene->points, where) : nullptr) {
        *yaw = p->x;
        *pitch = p->y;
        *distance = p->distance;
        return true;
    }
    if (HotSpot* h = scene ? ListFindByName(scene->hotspots, where) : nullptr;
        h && h->hs_type == kHotspotMap && scene->GetHotspotDirection(h, yaw, pitch))
        return true;
    return std::sscanf(where, "%f,%f,%f", yaw, pitch, distance) > 0;
}

// Declares, loads and places the sound of a snd_play or snd_cache call:
// argument 1 the sound, 3 its stream channel, 4 where it is (a string makes
// it a 3-D sound). The record, or null.
ResourceRecord* PrepareScriptSound(lua_State* L) {
    const bool is3d = lua_type(L, 4) == LUA_TSTRING;
    ResourceRecord* r = ScriptArgSound(L, nullptr, 1, Int(L, 3), is3d);
    if (!r) return nullptr;
    Sound* sound = Resources().GetSound(r);
    if (!sound) return r;
    const char* where = is3d ? lua_tostring(L, 4) : nullptr;
    Engine* e = CurrentEngine();
    float yaw = 0, pitch = 0, distance = 1000.0f;
    plat::Vec3 position{0, 0, 0};
    if (e && where && *where && ResolvePlace(e, where, &yaw, &pitch, &distance))
        position = PointSoundPosition(yaw, pitch, distance);
    sound->SetPosition(position.x, position.y, position.z);
    return r;
}

int Cache(lua_State* L) {
    PrepareScriptSound(L);
    return 0;
}

// snd_play(sound, loop, channel, where, start, nowait). Called from a queued
// statement without nowait, the sequence goes on once the sound ends (at
// once when there is none).
int Play(lua_State* L) {
    ResourceRecord* r = PrepareScriptSound(L);
    Engine* e = CurrentEngine();
    if (!e) return 0;
    if (r) e->PlaySound(r, lua_toboolean(L, 2) != 0, Int(L, 5));
    if (e->executingStatement && !lua_toboolean(L, 6)) {
        if (LoadedSound(r))
            e->waitedSound = r;
        else
            e->statementReady = true;
    }
    return 0;
}

// snd_isplaying(channel 1..8 or name).
int IsPlaying(lua_State* L) {
    bool playing = false;
    if (lua_type(L, 1) == LUA_TNUMBER) {
        const int ch = ChannelIndex(L, 1);
        playing = ch >= 0 && StreamChannelIsPlaying(unsigned(ch));
    } else if (lua_type(L, 1) == LUA_TSTRING) {
        Sound* s = LoadedSound(Resources().FindByName(lua_tostring(L, 1)));
        playing = s && s->IsPlaying();
    }
    lua_pushboolean(L, playing);
    return 1;
}

// snd_get(name): the resource record of that name.
int Get(lua_State* L) {
    const char* name = lua_type(L, 1) == LUA_TSTRING ? lua_tostring(L, 1) : nullptr;
    return script_args::PushHandleOrNil(L, name ? Resources().FindByName(name) : nullptr);
}

ScriptFunctionRecord s_snd_setsfxvolume("snd_setsfxvolume", SetSfxVolumeFn);
ScriptFunctionRecord s_snd_setstreambuffsize("snd_setstreambuffsize", SetStreamBufferSize);
ScriptFunctionRecord s_snd_setstreamnotifycount("snd_setstreamnotifycount", SetStreamNotifyCount);
ScriptFunctionRecord s_snd_setmusicvolume("snd_setmusicvolume", SetMusicVolume);
ScriptFunctionRecord s_snd_setvolume("snd_setvolume", SetVolume);
ScriptFunctionRecord s_snd_setstreamfadefx("snd_setstreamfadefx", SetStreamFadeFx);
ScriptFunctionRecord s_snd_getstreamfilesizethreshold("snd_getstreamfilesizethreshold", SetStreamThreshold);
ScriptFunctionRecord s_snd_getstreamingsound("snd_getstreamingsound", GetStreamingSound);
ScriptFunctionRecord s_snd_remove("snd_remove", Remove);
ScriptFunctionRecord s_snd_stop("snd_stop", Stop);
ScriptFunctionRecord s_snd_stopall("snd_stopall", StopAll);
ScriptFunctionRecord s_ge_sethwmixing("ge_sethwmixing", SetHwMixing);
ScriptFunctionRecord s_ge_animate3Dsounds("ge_animate3Dsounds", Animate3DSounds);
ScriptFunctionRecord s_snd_get("snd_get", Get);
ScriptFunctionRecord s_snd_isplaying("snd_isplaying", IsPlaying);
ScriptFunctionRecord s_snd_cache("snd_cache", Cache);
ScriptFunctionRecord s_snd_play("snd_play", Play);

}  // namespace
