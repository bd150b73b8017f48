#include <gtest/gtest.h>

#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/geometry.h"
#include "render_fixture.h"

using render_test::RenderTest;

TEST_F(RenderTest, WireBoxDrawsTheTwelveEdgesOnly) {
    g_renderDevice = dev;
    plat::Matrix identity;
    dev->SetTransform(0, identity);
    dev->SetTransform(1, identity);
    dev->SetTransform(2, identity);
    dev->Clear(0xFF000000);
    // Under identity transforms the box's front and back faces both land on
    // the square from -0.5 to 0.5: columns 16 and 48 of a 64-pixel target.
    DrawWireBox({0, 0, 0.5f}, 0.5f, 0.5f, 0.25f, 0xFFFF0000);
    auto px = Read();
    int red_on_left = 0;
    for (int x = 14; x <= 18; ++x) red_on_left += At(px, x, 32) == 0xFF0000;
    EXPECT_GE(red_on_left, 1);
    EXPECT_EQ(At(px, 32, 32), 0u);  // the inside stays empty
    EXPECT_EQ(At(px, 2, 2), 0u);
    g_renderDevice = nullptr;
}
