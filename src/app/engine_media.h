#pragma once
// The engine's screenshots: the requested size of a screenshot and the
// picture of a render target turned into a 24-bit image through the gamma
// ramp (Engine::SaveScreenshot writes it).
#include <cstdint>
#include <string>

struct ImageData;
struct TextureRecord;

// The size a screenshot request keeps: 0 or less stands for the screen's
// size. False (nothing to keep) when a side is larger than an image may be.
bool ResolveScreenshotSize(int32_t width, int32_t height, int32_t screen_width, int32_t screen_height,
                           int32_t* out_width, int32_t* out_height);

// The file name and the lower-cased extension of a screenshot: the text after
// the last '.' of the file part of the name; a name without one gets ".jpg".
void ScreenshotFileName(const char* name, std::string* file, std::string* extension);

// Copies the top-left width x height pixels of a locked 32-bit target (bytes
// B, G, R, X) into a 24-bit image, each channel through the red ramp (its
// high byte). The size is cut to what the target holds. False when nothing
// is locked or the size is empty.
bool CaptureScreenshotPixels(const TextureRecord& target, int32_t width, int32_t height,
                             const uint16_t ramp[256], ImageData& image);
