#pragma once
// Numbers and plain records of the Direct3D-9-shaped device: result codes,
// formats, state numbers and the descriptions the device hands out. The
// values are the ones the engine stores and compares, so they stay exact.
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"

namespace plat::gpu {

using Result = int32_t;
constexpr Result kOk = 0;
constexpr Result kFail = static_cast<Result>(0x80004005u);
constexpr Result kOutOfMemory = static_cast<Result>(0x8007000Eu);
constexpr Result kInvalidCall = static_cast<Result>(0x8876086Cu);
constexpr Result kNotAvailable = static_cast<Result>(0x8876086Au);
constexpr Result kDeviceLost = static_cast<Result>(0x88760868u);
constexpr Result kDeviceNotReset = static_cast<Result>(0x88760869u);
constexpr Result kNotFound = static_cast<Result>(0x88760866u);
inline bool Failed(Result r) { return r < 0; }

constexpr uint32_t kSdkVersion = 31;

constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

// Pixel and index formats.
namespace fmt {
constexpr uint32_t Unknown = 0;
constexpr uint32_t R8G8B8 = 20;
constexpr uint32_t A8R8G8B8 = 21;
constexpr uint32_t X8R8G8B8 = 22;
constexpr uint32_t R5G6B5 = 23;
constexpr uint32_t X1R5G5B5 = 24;
constexpr uint32_t A1R5G5B5 = 25;
constexpr uint32_t A4R4G4B4 = 26;
constexpr uint32_t A8 = 28;
constexpr uint32_t L8 = 50;
constexpr uint32_t A8L8 = 51;
constexpr uint32_t D16 = 80;
constexpr uint32_t D24S8 = 75;
constexpr uint32_t D24X8 = 77;
constexpr uint32_t Index16 = 101;
constexpr uint32_t Index32 = 102;
constexpr uint32_t YUY2 = FourCC('Y', 'U', 'Y', '2');
constexpr uint32_t DXT1 = FourCC('D', 'X', 'T', '1');
constexpr uint32_t DXT2 = FourCC('D', 'X', 'T', '2');
constexpr uint32_t DXT3 = FourCC('D', 'X', 'T', '3');
constexpr uint32_t DXT4 = FourCC('D', 'X', 'T', '4');
constexpr uint32_t DXT5 = FourCC('D', 'X', 'T', '5');
}  // namespace fmt

enum class Pool : uint32_t { Default = 0, Managed = 1, SystemMem = 2, Scratch = 3 };

enum class ResourceType : uint32_t { Surface = 1, Volume = 2, Texture = 3, VolumeTexture = 4, CubeTexture = 5 };

// Usage bits.
constexpr uint32_t kUsageRenderTarget = 0x1;
constexpr uint32_t kUsageDepthStencil = 0x2;
constexpr uint32_t kUsageWriteOnly = 0x8;
constexpr uint32_t kUsageDynamic = 0x200;

// Lock flags.
constexpr uint32_t kLockReadOnly = 0x10;
constexpr uint32_t kLockDiscard = 0x2000;
constexpr uint32_t kLockNoOverwrite = 0x1000;

// Clear flags.
constexpr uint32_t kClearTarget = 0x1;
constexpr uint32_t kClearZBuffer = 0x2;
constexpr uint32_t kClearStencil = 0x4;

// Flexible vertex format bits.
namespace fvf {
constexpr uint32_t XYZ = 0x002;
constexpr uint32_t XYZRHW = 0x004;
constexpr uint32_t PositionMask = 0x00E;
constexpr uint32_t Normal = 0x010;
constexpr uint32_t Diffuse = 0x040;
constexpr uint32_t Specular = 0x080;
constexpr uint32_t TexCountMask = 0xF00;
constexpr uint32_t TexCountShift = 8;
constexpr uint32_t Tex1 = 0x100;
constexpr uint32_t Tex2 = 0x200;
}  // namespace fvf

// Bytes per vertex of a flexible format (0 for formats the device cannot draw).
uint32_t FvfSize(uint32_t fvf);

enum class PrimitiveType : uint32_t {
    PointList = 1,
    LineList = 2,
    LineStrip = 3,
    TriangleList = 4,
    TriangleStrip = 5,
    TriangleFan = 6
};

enum class TransformState : uint32_t { View = 2, Projection = 3, World = 256 };

enum class DeviceType : uint32_t { Hal = 1, Ref = 2, Sw = 3 };

// Render-state numbers.
namespace rs {
constexpr uint32_t ZEnable = 7;
constexpr uint32_t FillMode = 8;
constexpr uint32_t ShadeMode = 9;
constexpr uint32_t ZWriteEnable = 14;
constexpr uint32_t AlphaTestEnable = 15;
constexpr uint32_t LastPixel = 16;
constexpr uint32_t SrcBlend = 19;
constexpr uint32_t DestBlend = 20;
constexpr uint32_t CullMode = 22;
constexpr uint32_t ZFunc = 23;
constexpr uint32_t AlphaRef = 24;
constexpr uint32_t AlphaFunc = 25;
constexpr uint32_t DitherEnable = 26;
constexpr uint32_t AlphaBlendEnable = 27;
constexpr uint32_t FogEnable = 28;
constexpr uint32_t SpecularEnable = 29;
constexpr uint32_t StencilEnable = 52;
constexpr uint32_t StencilMask = 58;
constexpr uint32_t StencilWriteMask = 59;
constexpr uint32_t TextureFactor = 60;
constexpr uint32_t Wrap0 = 128;
constexpr uint32_t Clipping = 136;
constexpr uint32_t Lighting = 137;
constexpr uint32_t Ambient = 139;
constexpr uint32_t ColorVertex = 141;
constexpr uint32_t LocalViewer = 142;
constexpr uint32_t NormalizeNormals = 143;
constexpr uint32_t DiffuseMaterialSource = 145;
constexpr uint32_t SpecularMaterialSource = 146;
constexpr uint32_t AmbientMaterialSource = 147;
constexpr uint32_t EmissiveMaterialSource = 148;
constexpr uint32_t MultisampleAntialias = 161;
constexpr uint32_t MultisampleMask = 162;
constexpr uint32_t ColorWriteEnable = 168;
constexpr uint32_t BlendOp = 171;
constexpr uint32_t ScissorTestEnable = 174;
constexpr uint32_t SeparateAlphaBlendEnable = 206;
constexpr uint32_t SrcBlendAlpha = 207;
constexpr uint32_t DestBlendAlpha = 208;
constexpr uint32_t BlendOpAlpha = 209;
constexpr uint32_t Count = 210;
}  // namespace rs

// The render-state numbers the device defines (103 of them, 7 to 209).
extern const uint8_t kRenderStateNumbers[103];

namespace blend {
constexpr uint32_t Zero = 1, One = 2, SrcColor = 3, InvSrcColor = 4, SrcAlpha = 5, InvSrcAlpha = 6,
                   DestAlpha = 7, InvDestAlpha = 8, DestColor = 9, InvDestColor = 10, SrcAlphaSat = 11;
}
namespace cull {
constexpr uint32_t None = 1, CW = 2, CCW = 3;
}
namespace cmp {
constexpr uint32_t Never = 1, Less = 2, Equal = 3, LessEqual = 4, Greater = 5, NotEqual = 6,
                   GreaterEqual = 7, Always = 8;
}
namespace mcs {
constexpr uint32_t Material = 0, Color1 = 1, Color2 = 2;
}

// Texture-stage state types.
namespace tss {
constexpr uint32_t ColorOp = 1, ColorArg1 = 2, ColorArg2 = 3, AlphaOp = 4, AlphaArg1 = 5, AlphaArg2 = 6,
                   BumpEnvMat00 = 7, BumpEnvMat01 = 8, BumpEnvMat10 = 9, BumpEnvMat11 = 10,
                   TexCoordIndex = 11, BumpEnvLScale = 22, BumpEnvLOffset = 23,
                   TextureTransformFlags = 24, ColorArg0 = 26, AlphaArg0 = 27, ResultArg = 28,
                   Constant = 32, Count = 33;
}
// Texture operations.
namespace top {
constexpr uint32_t Disable = 1, SelectArg1 = 2, SelectArg2 = 3, Modulate = 4, Modulate2x = 5,
                   Modulate4x = 6, Add = 7, AddSigned = 8, AddSigned2x = 9, Subtract = 10;
}
// Texture arguments.
namespace ta {
constexpr uint32_t Diffuse = 0, Current = 1, Texture = 2, TFactor = 3, Specular = 4, Temp = 5,
                   Constant = 6, SelectMask = 0xF, Complement = 0x10, AlphaReplicate = 0x20;
}

// Sampler-state types.
namespace ss {
constexpr uint32_t AddressU = 1, AddressV = 2, AddressW = 3, BorderColor = 4, MagFilter = 5,
                   MinFilter = 6, MipFilter = 7, MipMapLodBias = 8, MaxMipLevel = 9, MaxAnisotropy = 10,
                   SrgbTexture = 11, ElementIndex = 12, DmapOffset = 13, Count = 14;
}
namespace tadd {
constexpr uint32_t Wrap = 1, Mirror = 2, Clamp = 3, Border = 4, MirrorOnce = 5;
}
namespace tf {
constexpr uint32_t None = 0, Point = 1, Linear = 2, Anisotropic = 3;
}

constexpr int kMaxStages = 8;

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

using Viewport = plat::Viewport;

struct ColorValue {
    float r = 0, g = 0, b = 0, a = 0;
};

struct Material {
    ColorValue diffuse, ambient, specular, emissive;
    float power = 0;
};

enum class LightType : uint32_t { Point = 1, Spot = 2, Directional = 3 };

struct Light {
    LightType type = LightType::Point;
    ColorValue diffuse, specular, ambient;
    Vec3 position, direction;
    float range = 0, falloff = 0, attenuation0 = 0, attenuation1 = 0, attenuation2 = 0, theta = 0, phi = 0;
};

struct LockedRect {
    int32_t pitch = 0;
    void* bits = nullptr;
};

struct SurfaceDesc {
    uint32_t format = fmt::Unknown;
    ResourceType type = ResourceType::Surface;
    uint32_t usage = 0;
    Pool pool = Pool::Default;
    uint32_t width = 0, height = 0;
};

struct VertexBufferDesc {
    uint32_t usage = 0, fvf = 0, size = 0;
    Pool pool = Pool::Default;
};

struct DisplayMode {
    uint32_t width = 0, height = 0, refreshRate = 0, format = fmt::Unknown;
};

struct AdapterIdentifier {
    char driver[512] = {};
    char description[512] = {};
    char deviceName[32] = {};
};

constexpr uint32_t kPresentIntervalDefault = 0;
constexpr uint32_t kPresentIntervalOne = 1;
constexpr uint32_t kPresentIntervalImmediate = 0x80000000u;

enum class SwapEffect : uint32_t { Discard = 1, Flip = 2, Copy = 3 };

struct PresentParameters {
    uint32_t backBufferWidth = 0, backBufferHeight = 0;
    uint32_t backBufferFormat = fmt::Unknown;
    uint32_t backBufferCount = 0;
    uint32_t multiSampleType = 0, multiSampleQuality = 0;
    SwapEffect swapEffect = SwapEffect::Discard;
    void* deviceWindow = nullptr;  // an SDL_Window*, or null for a hidden window of the device's own
    bool windowed = true;
    bool enableAutoDepthStencil = false;
    uint32_t autoDepthStencilFormat = fmt::Unknown;
    uint32_t flags = 0;
    uint32_t fullScreenRefreshRate = 0;
    uint32_t presentationInterval = kPresentIntervalDefault;
};

// Capability bits the engine reads.
constexpr uint32_t kDevCapsHwTransformAndLight = 0x10000;
constexpr uint32_t kTexCapsPow2 = 0x2;
constexpr uint32_t kTexCapsNonPow2Conditional = 0x100;
constexpr uint32_t kCreateSoftwareVertexProcessing = 0x20;
constexpr uint32_t kCreateHardwareVertexProcessing = 0x40;

struct Caps {
    DeviceType deviceType = DeviceType::Hal;
    uint32_t adapterOrdinal = 0;
    uint32_t presentationIntervals = 0;
    uint32_t devCaps = 0;
    uint32_t textureCaps = 0;
    uint32_t maxTextureWidth = 0, maxTextureHeight = 0;
    uint32_t maxActiveLights = 0;
    uint32_t maxSimultaneousTextures = 0;
    uint32_t maxStreams = 0;
    uint32_t vertexShaderVersion = 0;  // 0xFFFE0000 | major << 8 | minor
    uint32_t pixelShaderVersion = 0;   // 0xFFFF0000 | major << 8 | minor
};

constexpr uint32_t VertexShaderVersion(uint32_t major, uint32_t minor) {
    return 0xFFFE0000u | major << 8 | minor;
}
constexpr uint32_t PixelShaderVersion(uint32_t major, uint32_t minor) {
    return 0xFFFF0000u | major << 8 | minor;
}

// Gamma ramp: 256 entries per channel.
struct GammaRamp {
    uint16_t red[256] = {}, green[256] = {}, blue[256] = {};
};

}  // namespace plat::gpu
