#include "scene/game_video.h"

#include <new>

#include "media/resource_manager.h"

ClassDescriptor GameVideo::s_descriptor;

namespace {
GameVideo::GameVideo_Initializer g_video_initializer;
}  // namespace

GameVideo::GameVideo_Initializer::GameVideo_Initializer() : EObject_Initializer(&GameVideo::s_descriptor) {}

EObject* GameVideo::GameVideo_Initializer::Create() {
    void* block = GameVideo::operator new(sizeof(GameVideo));
    return block ? ::new (block) GameVideo() : nullptr;
}

void GameVideo::GameVideo_Initializer::RegisterProperties() {
    ClassDescriptor& d = GameVideo::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&GameVideo::name));
    d.AddProperty("rect", kPropertyRect, ObjectFieldOffset(&GameVideo::rect));
    d.AddProperty("fixedRect", kPropertyBool, ObjectFieldOffset(&GameVideo::fixedRect));
    d.AddProperty("buffered", kPropertyBool, ObjectFieldOffset(&GameVideo::buffered));
    d.AddProperty("hvideo", kPropertySound, ObjectFieldOffset(&GameVideo::hvideo));
    d.AddProperty("hstream", kPropertySound, ObjectFieldOffset(&GameVideo::hstream));
    d.AddProperty("bgcolor", kPropertyColor, ObjectFieldOffset(&GameVideo::bgcolor));
    d.AddConstant("class", "video");
}

GameVideo::GameVideo() : EObject(&s_descriptor) { SetDefaults(); }

void GameVideo::SetDefaults() { bgcolor = 0xFF000000u; }

// The record is declared again in place rather than replaced, so other
// holders of the same file keep a live record.
void GameVideo::OnChanged(uint32_t changed) {
    if ((changed & kVideoBitVideo) && hvideo) {
        Resources().Redeclare(hvideo, buffered ? 0 : 1);
        return;
    }
    if ((changed & kVideoBitStream) && hstream) Resources().Redeclare(hstream, kSoundStreamed);
}
