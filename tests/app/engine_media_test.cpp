// Screenshots: the file name and size rules, and a render target written as
// TGA and JPEG into the per-user folder through the gamma ramp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/engine.h"
#include "app/engine_media.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "media/image/image_data.h"
#include "media/image/tga_codec.h"
#include "render/render_fixture.h"
#include "scene/game_scene.h"
#include "support/test_support.h"

namespace {

std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
}

bool Logged(const std::string& part) {
    for (const std::string& l : Lines())
        if (l.find(part) != std::string::npos) return true;
    return false;
}

TEST(ScreenshotRules, FileNamesAndSizes) {
    std::string file, ext;
    ScreenshotFileName("shot", &file, &ext);
    EXPECT_EQ(file, "shot.jpg");
    EXPECT_EQ(ext, "jpg");
    ScreenshotFileName("Pic.TGA", &file, &ext);
    EXPECT_EQ(file, "Pic.TGA");
    EXPECT_EQ(ext, "tga");
    ScreenshotFileName("dir.v/shot", &file, &ext);  // a dot of a folder is no extension
    EXPECT_EQ(file, "dir.v/shot.jpg");

    int32_t w = 0, h = 0;
    EXPECT_TRUE(ResolveScreenshotSize(0, -3, 800, 600, &w, &h));
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    EXPECT_TRUE(ResolveScreenshotSize(320, 0, 800, 600, &w, &h));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 600);
    EXPECT_FALSE(ResolveScreenshotSize(20000, 10, 800, 600, &w, &h));
    EXPECT_FALSE(ResolveScreenshotSize(16384, 16384, 800, 600, &w, &h));  // more pixels than an image may hold
    EXPECT_EQ(w, 320);
}

class Screenshots : public render_test::RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        Lines().clear();
        SetLogSink([](const char* line, unsigned) { Lines().push_back(line); });
        saved = g_renderDevice;
        g_renderDevice = dev;
        target = dev->CreateTexture(kSide, kSide, TEXKIND_RENDER_TARGET, nullptr, 0);
        ASSERT_NE(target, nullptr);
        ASSERT_EQ(dev->BeginRenderTarget(target), 1);
        dev->Clear(0xFF102030);
        dev->SetScissor(true, 0, 0, 4, 4);
        dev->Clear(0xFFFF0000);
        dev->SetScissor(false, 0, 0, 0, 0);
        ASSERT_EQ(dev->EndRenderTarget(), 1);
        engine.screenRect.Set(0, 0, kSide, kSide);
        engine.virtualRect.Set(0, 0, 1024, 768);
    }
    void TearDown() override {
        dev->ReleaseTexture(target);
        g_renderDevice = saved;
        SetLogSink(nullptr);
        RenderTest::TearDown();
    }
    static std::string UserFile(const char* name) {
        std::string path;
        EXPECT_TRUE(GetUserFilePath(name, path));
        return path;
    }

    static constexpr int kSide = 48;
    Engine engine;
    TextureRecord* target = nullptr;
    RenderDevice* saved = nullptr;
};

TEST_F(Screenshots, TgaHoldsTheTargetAt24Bits) {
    ASSERT_EQ(engine.SaveScreenshot(target, "shot1.tga", 90), 0);
    EXPECT_TRUE(Logged("[SAVESHOT] : shot1.tga"));
    const std::string bytes = quild_test::ReadFile(UserFile("shot1.tga"));
    ASSERT_GT(bytes.size(), 18u);
    EXPECT_EQ(uint8_t(bytes[16]), 24);  // the header's depth is the pixels'
    ImageData image;
    ASSERT_TRUE(LoadTga(image, UserFile("shot1.tga").c_str()));
    ASSERT_EQ(image.width, uint32_t(kSide));
    ASSERT_EQ(image.height, uint32_t(kSide));
    ASSERT_EQ(image.bits, kImageRgb);
    auto rgb = [&](int x, int y) {
        const uint8_t* p = image.pixels + (size_t(y) * kSide + size_t(x)) * 3;
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    };
    // The device's ramp starts as the identity: colours come through as drawn.
    EXPECT_EQ(rgb(1, 1), 0xFF0000u);
    EXPECT_EQ(rgb(kSide - 1, kSide - 1), 0x102030u);
    EXPECT_EQ(rgb(5, 1), 0x102030u);

    // Through a darkening ramp.
    uint16_t half[256];
    for (int i = 0; i < 256; ++i) half[i] = uint16_t(i * 257 / 2);
    dev->SetGammaRamp(half);
    ASSERT_EQ(engine.SaveScreenshot(target, "shot2.tga", 90), 0);
    ASSERT_TRUE(LoadTga(image, UserFile("shot2.tga").c_str()));
    EXPECT_EQ(rgb(1, 1), 0x7F0000u);
}

TEST_F(Screenshots, JpegByDefaultAndRefusals) {
    ASSERT_EQ(engine.SaveScreenshot(target, "plain", 80), 0);
    EXPECT_TRUE(Logged("[SAVESHOT] : plain.jpg"));
    const std::string jpeg = quild_test::ReadFile(UserFile("plain.jpg"));
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(uint8_t(jpeg[0]), 0xFF);
    EXPECT_EQ(uint8_t(jpeg[1]), 0xD8);

    Lines().clear();
    EXPECT_EQ(engine.SaveScreenshot(target, "shot.bmp", 80), -1);
    EXPECT_TRUE(Logged("[SAVESHOT] Unsupported Format: bmp"));
    EXPECT_FALSE(Logged("[SAVESHOT] : "));
    EXPECT_FALSE(FileExists(UserFile("shot.bmp").c_str()));
    EXPECT_EQ(engine.SaveScreenshot(target, "q0", 0), -1);
    EXPECT_EQ(engine.SaveScreenshot(target, nullptr, 80), -1);
    EXPECT_EQ(engine.SaveScreenshot(nullptr, "none", 80), -1);
    EXPECT_FALSE(FileExists(UserFile("q0.jpg").c_str()));
    // A folder that cannot be written: no success reported.
    EXPECT_EQ(engine.SaveScreenshot(target, "no/such/folder/x.tga", 80), -1);
    EXPECT_FALSE(Logged("[SAVESHOT] : no/such"));
}

TEST_F(Screenshots, ATwoDimensionalSceneNeverReadsBeyondTheTarget) {
    // A 2-D scene asks for the 1024 x 768 virtual screen; the target is smaller.
    GameScene page;
    page.viewtype = kViewPage;
    engine.currentScene = &page;
    ASSERT_EQ(engine.SaveScreenshot(target, "page.tga", 90), 0);
    engine.currentScene = nullptr;
    ImageData image;
    ASSERT_TRUE(LoadTga(image, UserFile("page.tga").c_str()));
    EXPECT_EQ(image.width, uint32_t(kSide));
    EXPECT_EQ(image.height, uint32_t(kSide));
}

}  // namespace
