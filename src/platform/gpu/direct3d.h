#pragma once
// The Direct3D object: adapter text, display modes, format and multisample
// checks, capabilities and device creation. One adapter, the GL driver.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gpu/device.h"
#include "platform/gpu/gpu_types.h"

namespace plat::gpu {

// Sets the SDL GL attributes of a window the device can draw into (3.3 core
// context, depth 24, stencil 8, double buffer). The window layer calls it
// before it creates its SDL window with SDL_WINDOW_OPENGL.
void SetGLWindowAttributes();

// Makes the device look like an older or troubled card, so the engine's
// fallbacks can run in tests. Zero fields keep the real answer.
struct TestOverride {
    bool powerOfTwoOnly = false;          // texture caps: power-of-two sizes only
    bool nonPowerOfTwoConditional = false;// texture caps: conditional support for other sizes
    uint32_t vertexShaderVersion = 0;     // e.g. VertexShaderVersion(1, 1)
    uint32_t pixelShaderVersion = 0;      // e.g. PixelShaderVersion(1, 4)
    bool deviceLost = false;              // the device reports lost until this is cleared
    bool noX8R8G8B8BackBuffer = false;
    bool noDxt = false;
    bool noYuy2Texture = false;
    bool noYuy2Conversion = false;
    bool noHardwareTransform = false;
    bool noPresentIntervalOne = false;
};
void SetTestOverride(const TestOverride& o);
void ClearTestOverride();
const TestOverride& GetTestOverride();

class Direct3D : public Unknown {
public:
    // Null when the SDK version is wrong or the video system cannot start.
    static Direct3D* Create(uint32_t sdkVersion);

    uint32_t GetAdapterCount() const { return 1; }
    Result GetAdapterIdentifier(uint32_t adapter, uint32_t flags, AdapterIdentifier* id);
    uint32_t GetAdapterModeCount(uint32_t adapter, uint32_t format);
    Result EnumAdapterModes(uint32_t adapter, uint32_t format, uint32_t index, DisplayMode* mode);
    Result GetAdapterDisplayMode(uint32_t adapter, DisplayMode* mode);
    Result CheckDeviceType(uint32_t adapter, DeviceType type, uint32_t displayFormat, uint32_t backBufferFormat,
                           bool windowed);
    Result CheckDeviceFormat(uint32_t adapter, DeviceType type, uint32_t adapterFormat, uint32_t usage,
                             ResourceType resource, uint32_t format);
    Result CheckDeviceFormatConversion(uint32_t adapter, DeviceType type, uint32_t sourceFormat,
                                       uint32_t targetFormat);
    Result CheckDepthStencilMatch(uint32_t adapter, DeviceType type, uint32_t adapterFormat,
                                  uint32_t renderTargetFormat, uint32_t depthFormat);
    Result CheckDeviceMultiSampleType(uint32_t adapter, DeviceType type, uint32_t surfaceFormat, bool windowed,
                                      uint32_t samples, uint32_t* qualityLevels);
    Result GetDeviceCaps(uint32_t adapter, DeviceType type, Caps* caps);
    Result CreateDevice(uint32_t adapter, DeviceType type, void* focusWindow, uint32_t behaviourFlags,
                        PresentParameters* params, Device** device);

    // Why the last CreateDevice failed.
    const std::string& LastError() const { return lastError_; }

private:
    Direct3D() = default;
    ~Direct3D() override;
    void ListModes();
    std::string lastError_;
    bool modesListed_ = false;
    struct Mode {
        uint32_t w, h, hz, bits;
    };
    std::vector<Mode> modes_;
};

}  // namespace plat::gpu
