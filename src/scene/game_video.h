#pragma once
// A named full-screen video (class word "video"): its rectangle, its video
// and sound-track resources and the colour around it. The engine plays it
// by name and draws it in the frame; this class holds the data.
#include <cstdint>

#include "script/object_model.h"

struct ResourceRecord;

enum GameVideoBits : uint32_t {
    kVideoBitName = 0x1,
    kVideoBitRect = 0x2,
    kVideoBitFixedRect = 0x4,
    kVideoBitBuffered = 0x8,
    kVideoBitVideo = 0x10,
    kVideoBitStream = 0x20,
    kVideoBitBgcolor = 0x40,
};

class GameVideo : public EObject {
public:
    class GameVideo_Initializer : public EObject_Initializer {
    public:
        GameVideo_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    GameVideo();

    // bgcolor opaque black.
    void SetDefaults() override;
    // A changed video or sound track is declared again (streamed unless
    // buffered; the sound track always streamed).
    void OnChanged(uint32_t mask) override;

    int32_t rect[4] = {};  // x, y, w, h
    bool fixedRect = false;
    bool buffered = false;
    uint32_t bgcolor = 0;
    ResourceRecord* hvideo = nullptr;
    ResourceRecord* hstream = nullptr;
};
