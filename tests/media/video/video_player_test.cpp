// Theora movies made here, decoded frame by frame into the shared output
// of a real (headless) device and read back.
// The device read-back and PNG helpers of the render tests (first: they
// name the device's own Texture before the engine's is declared).
// clang-format off
#include "media/video/video_player.h"
// clang-format on

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../../tools/theora_frames.h"
#include "base/text.h"
#include "media/image/image_builders.h"
#include "media/resource_manager.h"
#include "render/render_fixture.h"
#include "support/test_support.h"

using media_test::LogRecorder;
using quild_test::TempDir;
using theora_frames::MovieShape;

namespace {

using Yuv = std::array<uint8_t, 3>;
const Yuv kRed{81, 90, 240}, kGreen{145, 54, 34}, kBlue{41, 240, 110}, kGrey{128, 128, 128};

class VideoPlayerTest : public render_test::RenderTest {
protected:
    void SetUp() override {
        Open(64, 64);
        saved_ = g_renderDevice;
        g_renderDevice = dev;
        SetResourceKindOps(kResourceVideo, &kVideoResourceOps);
        SetSharedVideoPlayer(GetSharedVideoPlayer());
    }
    void TearDown() override {
        ReleaseVideoOutput();
        SetVideoScreenTarget(nullptr, Rect());
        g_renderDevice = saved_;
        Close();
    }
    std::string Save(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = dir_.file(name);
        quild_test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }
    // The locked texture's bytes at (x, y) of 4-byte units.
    static const uint8_t* TexelGroup(TextureRecord* t, int x, int y) {
        return static_cast<const uint8_t*>(t->bits) + size_t(y) * t->pitch + size_t(x) * 4;
    }

    TempDir dir_;
    RenderDevice* saved_ = nullptr;
};

void ExpectNear(const uint8_t* got, const Yuv& c, const char* what) {
    EXPECT_NEAR(got[0], c[0], 3) << what;
    EXPECT_NEAR(got[1], c[1], 3) << what;
    EXPECT_NEAR(got[2], c[0], 3) << what;
    EXPECT_NEAR(got[3], c[2], 3) << what;
}

TEST_F(VideoPlayerTest, DecodesEachFrameIntoTheYuy2TextureUntilTheEnd) {
    MovieShape s;
    s.frames = 4;
    const std::string path = Save("flat.ogg", theora_frames::Flat(s, {kRed, kGreen, kBlue, kGrey}));
    VideoPlayer player;
    ASSERT_EQ(player.Open(path.c_str(), true), 1);
    ASSERT_TRUE(player.Start());
    EXPECT_TRUE(player.IsPlaying());
    EXPECT_EQ(player.GetWidth(), 32);
    EXPECT_EQ(player.GetHeight(), 32);
    TextureRecord* t = GetVideoOutput().texture;
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->kind, TEXKIND_YUY2);
    EXPECT_FALSE(GetVideoOutput().software);
    const Yuv colours[4] = {kRed, kGreen, kBlue, kGrey};
    for (int f = 0; f < 4; ++f) {
        ASSERT_TRUE(player.Update()) << f;
        dev->LockTexture(t);
        ASSERT_NE(t->bits, nullptr);
        ExpectNear(TexelGroup(t, 0, 0), colours[f], "top left");
        ExpectNear(TexelGroup(t, 15, 31), colours[f], "bottom right");
        dev->UnlockTexture(t);
    }
    EXPECT_EQ(player.FramesDecoded(), 4.0f);
    EXPECT_FALSE(player.Update());
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_FALSE(player.Update());
    LogRecorder log;
    player.Close();
    EXPECT_TRUE(log.Has("Average Movie Frame Process Time: "));
}

TEST_F(VideoPlayerTest, GranulePositionsAndTimesFollowTheFrameRate) {
    MovieShape s;
    s.frames = 6;
    s.fpsNumerator = 30000;
    s.fpsDenominator = 1001;
    s.keyframeEvery = 4;  // granule shift 2: keyframe number above, frames since below
    const std::string path = Save("timed.ogg", theora_frames::Bars(s));
    VideoPlayer player;
    ASSERT_EQ(player.Open(path.c_str(), true), 1);
    ASSERT_TRUE(player.Start());
    EXPECT_FLOAT_EQ(player.GetFrameRate(), 30000.0f / 1001.0f);
    EXPECT_EQ(player.GranulePos(), -1);
    int64_t last = -1;
    for (int f = 1; f <= 6; ++f) {
        ASSERT_TRUE(player.Update());
        EXPECT_GT(player.GranulePos(), last);
        last = player.GranulePos();
        // The time at which frame f ends.
        EXPECT_NEAR(player.FrameTime(), f * 1001.0 / 30000.0, 1e-9) << f;
        const int64_t key = player.GranulePos() >> 2, since = player.GranulePos() & 3;
        EXPECT_EQ(key + since, f) << f;
    }
    EXPECT_FALSE(player.Update());
    player.Close();
}

TEST_F(VideoPlayerTest, CroppedPictureKeepsItsSizeAndPlace) {
    MovieShape s;
    s.width = 48;
    s.height = 32;
    s.pictureWidth = 40;
    s.pictureHeight = 24;
    s.offsetX = 4;
    s.offsetY = 2;
    s.frames = 1;
    // Inside the picture grey, outside it blue.
    auto ogg = theora_frames::Encode(s, [&](int, int plane, int x, int y) -> uint8_t {
        const int sx = plane ? 2 : 1;
        const bool inside = x * sx >= 4 && x * sx < 44 && y * sx >= 2 && y * sx < 26;
        return inside ? kGrey[plane] : kBlue[plane];
    });
    const std::string path = Save("crop.ogg", ogg);
    VideoPlayer player;
    ASSERT_EQ(player.Open(path.c_str(), true), 1);
    LogRecorder log;
    ASSERT_TRUE(player.Start());
    EXPECT_TRUE(log.Has("Video Size: 40x24"));
    EXPECT_EQ(player.GetWidth(), 40);
    EXPECT_EQ(player.GetHeight(), 24);
    TextureRecord* t = GetVideoOutput().texture;
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->width, 40);
    EXPECT_EQ(t->height, 24);
    ASSERT_TRUE(player.Update());
    dev->LockTexture(t);
    ASSERT_NE(t->bits, nullptr);
    ExpectNear(TexelGroup(t, 1, 1), kGrey, "picture top left");
    ExpectNear(TexelGroup(t, 18, 22), kGrey, "picture bottom right");
    dev->UnlockTexture(t);
    player.Close();
}

TEST_F(VideoPlayerTest, DrawsTheFrameThroughTheDevice) {
    MovieShape s;
    s.width = 64;
    s.height = 48;
    s.frames = 2;
    const std::string path = Save("bars.ogg", theora_frames::Bars(s));
    VideoPlayer player;
    ASSERT_EQ(player.Open(path.c_str(), true), 1);
    ASSERT_TRUE(player.Start());
    ASSERT_TRUE(player.Update());
    TextureRecord* target = dev->CreateTexture(64, 48, TEXKIND_RENDER_TARGET, nullptr, 0);
    ASSERT_NE(target, nullptr);
    ASSERT_EQ(dev->BeginRenderTarget(target), 1);
    dev->Clear(0xFF000000);
    DrawVideoFrame(Rect(0, 0, 64, 48));
    dev->EndRenderTarget();
    std::vector<uint32_t> px = Read(target);
    SavePng(px, 64, 48, "video_bars");
    // Each pixel is the colour of its decoded samples.
    const yuv_buffer& f = player.Frame();
    int off = 0;
    for (int y = 1; y < 48; y += 7)
        for (int x = 1; x < 64; x += 5) {
            const uint32_t want = ConvertYuvPixel(f.y[y * f.y_stride + x], f.u[(y / 2) * f.uv_stride + x / 2],
                                                  f.v[(y / 2) * f.uv_stride + x / 2]);
            const uint32_t got = px[size_t(y) * 64 + x];
            for (int sh = 0; sh < 24; sh += 8)
                if (std::abs(int((got >> sh) & 255) - int((want >> sh) & 255)) > 6) ++off;
        }
    EXPECT_EQ(off, 0);
    dev->ReleaseTexture(target);
    player.Close();
}

TEST_F(VideoPlayerTest, SurfaceAndSoftwareOutputsOnDevicesWithoutYuy2Textures) {
    MovieShape s;
    s.frames = 1;
    const std::string path = Save("red.ogg", theora_frames::Flat(s, {kRed}));
    TextureRecord* target = dev->CreateTexture(64, 64, TEXKIND_RENDER_TARGET, nullptr, 0);
    ASSERT_NE(target, nullptr);
    SetVideoScreenTarget(target, Rect(0, 0, 64, 64));
    const uint32_t red = ConvertYuvPixel(kRed[0], kRed[1], kRed[2]);
    auto near = [](uint32_t a, uint32_t b) {
        for (int sh = 0; sh < 24; sh += 8)
            if (std::abs(int((a >> sh) & 255) - int((b >> sh) & 255)) > 8) return false;
        return true;
    };

    // No YUY2 textures, but conversion: an off-screen surface stretched into
    // the screen target, partly off its edge.
    ReleaseVideoOutput();
    plat::gpu::TestOverride o;
    o.noYuy2Texture = true;
    plat::gpu::SetTestOverride(o);
    {
        VideoPlayer player;
        ASSERT_EQ(player.Open(path.c_str(), true), 1);
        ASSERT_TRUE(player.Start());
        EXPECT_NE(GetVideoOutput().surface, nullptr);
        EXPECT_EQ(GetVideoOutput().texture, nullptr);
        ASSERT_TRUE(player.Update());
        dev->BeginRenderTarget(target);
        dev->Clear(0xFF000000);
        dev->EndRenderTarget();
        DrawVideoFrame(Rect(40, 40, 32, 32));
        std::vector<uint32_t> px = Read(target);
        EXPECT_TRUE(near(px[50 * 64 + 50] & 0xFFFFFF, red)) << std::hex << px[50 * 64 + 50];
        EXPECT_EQ(px[10 * 64 + 10] & 0xFFFFFF, 0u);
        player.Close();
    }

    // Neither: the software conversion into a 32-bit texture.
    ReleaseVideoOutput();
    o.noYuy2Conversion = true;
    plat::gpu::SetTestOverride(o);
    {
        LogRecorder log;
        VideoPlayer player;
        ASSERT_EQ(player.Open(path.c_str(), true), 1);
        ASSERT_TRUE(player.Start());
        EXPECT_TRUE(log.Has("[ERROR] Coversion between YUY2 and D3DFMT_X8R8G8B8 is not supported"));
        EXPECT_TRUE(log.Has("[WARNING] Software YUV_RGB Conversion is being used"));
        TextureRecord* t = GetVideoOutput().texture;
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->kind, TEXKIND_X8R8G8B8);
        EXPECT_TRUE(GetVideoOutput().software);
        ASSERT_TRUE(player.Update());
        dev->LockTexture(t);
        ASSERT_NE(t->bits, nullptr);
        uint32_t texel;
        std::memcpy(&texel, TexelGroup(t, 5, 5), 4);
        EXPECT_TRUE(near(texel & 0xFFFFFF, red)) << std::hex << texel;
        dev->UnlockTexture(t);
        player.Close();
    }
    ReleaseVideoOutput();
    dev->ReleaseTexture(target);
}

TEST(VideoConversion, BlackAndWhiteAreExact) {
    EXPECT_EQ(ConvertYuvPixel(16, 128, 128), 0x000000u);
    EXPECT_EQ(ConvertYuvPixel(235, 128, 128), 0xFFFFFFu);
    // Out of range sums are clamped, never wrapped.
    EXPECT_EQ(ConvertYuvPixel(0, 0, 255), 0xB80000u);
    EXPECT_EQ(ConvertYuvPixel(255, 255, 0), 0x4AFFFFu);
}

TEST_F(VideoPlayerTest, OutputIsKeptForEqualSizesAndMadeAnewForOthers) {
    MovieShape small;
    small.frames = 1;
    MovieShape large = small;
    large.width = 48;
    const std::string a = Save("a.ogg", theora_frames::Flat(small, {kGrey}));
    const std::string b = Save("b.ogg", theora_frames::Flat(small, {kRed}));
    const std::string c = Save("c.ogg", theora_frames::Flat(large, {kRed}));
    VideoPlayer p1, p2, p3;
    ASSERT_EQ(p1.Open(a.c_str(), true), 1);
    ASSERT_TRUE(p1.Start());
    TextureRecord* first = GetVideoOutput().texture;
    p1.Close();
    LogRecorder log;
    ASSERT_EQ(p2.Open(b.c_str(), true), 1);
    ASSERT_TRUE(p2.Start());
    EXPECT_EQ(GetVideoOutput().texture, first);
    EXPECT_FALSE(log.Has("Video Size"));
    p2.Close();
    ASSERT_EQ(p3.Open(c.c_str(), true), 1);
    ASSERT_TRUE(p3.Start());
    EXPECT_TRUE(log.Has("Video Size: 48x32"));
    EXPECT_EQ(GetVideoOutput().width, 48);
    ASSERT_NE(GetVideoOutput().texture, nullptr);
    EXPECT_EQ(GetVideoOutput().texture->width, 48);
    p3.Close();
}

TEST_F(VideoPlayerTest, OpenCloseAndRestart) {
    MovieShape s;
    s.frames = 2;
    const std::string path = Save("two.ogg", theora_frames::Flat(s, {kRed, kBlue}));
    VideoPlayer player;
    EXPECT_EQ(player.Open(dir_.file("missing.ogg").c_str(), false), -1);
    EXPECT_EQ(player.Open(dir_.file("missing.ogg").c_str(), true), -1);
    EXPECT_FALSE(player.IsOpen());
    {
        LogRecorder log;
        EXPECT_FALSE(player.Start());  // nothing open
        EXPECT_FALSE(player.Update());
        player.Close();  // no frames: the averages are 0, not NaN
        EXPECT_TRUE(log.Has("Average Movie Frame Process Time: 0.000000 millisecs all (0.000000 FPS MAX)"));
    }

    // Unbuffered: the path is logged as a line of its own (never a format),
    // and closing forgets the stream.
    const std::string odd = Save("100%s.ogg", theora_frames::Flat(s, {kRed, kBlue}));
    {
        LogRecorder log;
        ASSERT_EQ(player.Open(odd.c_str(), false), 1);
        EXPECT_TRUE(log.Has("100%s.ogg"));
    }
    EXPECT_EQ(player.Open(path.c_str(), false), 1);  // still open: nothing happens
    ASSERT_TRUE(player.Start());
    EXPECT_TRUE(player.Update());
    player.Close();
    EXPECT_FALSE(player.IsOpen());
    EXPECT_FALSE(player.Update());

    // Buffered: the data stays; starting again plays from the first frame,
    // also without a close in between.
    ASSERT_EQ(player.Open(path.c_str(), true), 1);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(player.Start());
        ASSERT_TRUE(player.Update());
        EXPECT_NEAR(player.FrameTime(), 0.04, 1e-9);
        if (round == 1) continue;
        ASSERT_TRUE(player.Update());
        EXPECT_FALSE(player.Update());
        player.Close();
        EXPECT_TRUE(player.IsOpen());
        EXPECT_EQ(player.Open("elsewhere.ogg", true), 1);
    }
    player.Close();
}

TEST_F(VideoPlayerTest, DamagedFilesAreRefusedCleanly) {
    MovieShape s;
    s.frames = 3;
    const std::vector<uint8_t> good = theora_frames::Flat(s, {kRed, kGreen, kBlue});
    const auto pages = theora_frames::Pages(good);
    ASSERT_GE(pages.size(), 3u);
    auto start = [&](const std::vector<uint8_t>& bytes, const char* name) {
        VideoPlayer player;
        const std::string path = Save(name, bytes);
        EXPECT_EQ(player.Open(path.c_str(), true), 1);
        const bool ok = player.Start();
        EXPECT_EQ(ok, player.IsPlaying());
        int frames = 0;
        while (player.Update() && frames < 100) ++frames;
        player.Close();
        return ok;
    };
    {
        // Only the first header page: the data ends before three headers.
        LogRecorder log;
        EXPECT_FALSE(start(pages[0], "cut.ogg"));
        EXPECT_TRUE(log.Has("End of file while searching for codec headers.\n"));
    }
    {
        // A setup header of an unknown kind (its page checksum made right again).
        std::vector<uint8_t> bytes = pages[0];
        std::vector<uint8_t> second = pages[1];
        const std::string text(second.begin(), second.end());
        const size_t setup = text.find("\x82theora");
        ASSERT_NE(setup, std::string::npos);
        second[setup] = 0x86;
        ogg_page og;
        og.header = second.data();
        og.header_len = 27 + second[26];
        og.body = second.data() + og.header_len;
        og.body_len = long(second.size()) - og.header_len;
        ogg_page_checksum_set(&og);
        bytes.insert(bytes.end(), second.begin(), second.end());
        for (size_t i = 2; i < pages.size(); ++i) bytes.insert(bytes.end(), pages[i].begin(), pages[i].end());
        LogRecorder log;
        EXPECT_FALSE(start(bytes, "bad_header.ogg"));
        EXPECT_TRUE(log.Has("Error parsing Theora stream headers; corrupt stream?\n"));
    }
    {
        // Not an Ogg file at all, and an empty one.
        LogRecorder log;
        EXPECT_FALSE(start(std::vector<uint8_t>(5000, 'x'), "noise.ogg"));
        EXPECT_FALSE(start({}, "empty.ogg"));
        EXPECT_TRUE(log.Has("[ERROR] No Theora stream in the movie"));
    }
    {
        // Frame data flipped at random: it plays to the end without harm.
        std::vector<uint8_t> bytes = good;
        srand(7);
        for (size_t i = pages[0].size() + pages[1].size() + 40; i < bytes.size(); i += 13)
            bytes[i] ^= uint8_t(rand());
        start(bytes, "flipped.ogg");
    }
    {
        // A frame far larger than any screen is refused before decoding.
        MovieShape huge;
        huge.width = 4112;
        huge.height = 16;
        huge.frames = 1;
        huge.quality = 0;
        LogRecorder log;
        EXPECT_FALSE(start(theora_frames::Flat(huge, {kGrey}), "huge.ogg"));
        EXPECT_TRUE(log.Has("[ERROR] Movie frame size 4112x16 is not supported"));
    }
}

TEST_F(VideoPlayerTest, ResourceRecordsGetTheirPlayers) {
    MovieShape s;
    s.frames = 1;
    Save("clip.ogg", theora_frames::Flat(s, {kRed}));
    Save("stream.ogg", theora_frames::Flat(s, {kBlue}));
    ResourceManager& rm = Resources();
    ResourceRecord* buffered = rm.DeclareVideo(dir_.file("clip").c_str(), 0);
    ResourceRecord* streamed = rm.DeclareVideo(dir_.file("stream").c_str(), 1);
    ASSERT_NE(buffered, nullptr);
    ASSERT_NE(streamed, nullptr);
    VideoPlayer* own = rm.GetVideo(buffered);
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, GetSharedVideoPlayer());
    EXPECT_TRUE(own->IsOpen());
    VideoPlayer* shared = rm.GetVideo(streamed);
    EXPECT_EQ(shared, GetSharedVideoPlayer());
    ASSERT_TRUE(shared->IsOpen());
    ASSERT_TRUE(shared->Start());
    EXPECT_TRUE(shared->Update());
    shared->Close();
    EXPECT_FALSE(shared->IsOpen());
    rm.Remove(buffered, true);
    rm.Remove(streamed, true);
    EXPECT_EQ(GetSharedVideoPlayer()->IsOpen(), false);
}

}  // namespace
