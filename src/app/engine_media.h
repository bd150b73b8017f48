#pragma once
// The engine's media control: sounds declared and played by name, the
// full-screen video (started, advanced, stopped with a fade, drawn with its
// borders) and screenshots: the requested size of a screenshot and the
// picture of a render target turned into a 24-bit image through the gamma
// ramp (Engine::SaveScreenshot writes it).
#include <cstdint>
#include <string>

struct Engine;
struct ImageData;
struct ResourceRecord;
struct TextureRecord;
struct lua_State;

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

// The declaration bits of a sound: 0x02 streamed, 0x04 3-D and the 0-based
// stream channel from bit 4 (channel 1..8; 0 or less adds none).
uint32_t SoundDeclarationFlags(bool streamed, int32_t channel, bool is3d);

// A sound argument of a script function: by name (the string field key of
// the table on top, or the string at the stack index without a key), which
// is declared through Engine::DeclareSound with the channel and 3-D flag;
// or by record (a light or full userdata that is a live sound record).
// Null otherwise.
ResourceRecord* ScriptArgSound(lua_State* L, const char* key, int index, int32_t channel, bool is3d);

// The rectangle of a video that is not fixed: the screen's width, the
// picture's proportions, centred; never taller than the screen. A picture
// width of 0 fills the screen.
void FitVideoRect(int32_t video_w, int32_t video_h, int32_t screen_w, int32_t screen_h, int32_t rect[4]);

// The frame's drawing of the current video: its picture while the player
// runs, the border colour around it and the black fade after a stop, which
// ends the video with "OnGameVideoClosed(%s)".
void DrawVideoStep(Engine* e);
