#pragma once
// Pieces of the raw OpenGL baselines: a shader program of two stages
// compiled from text and linked, and a texture of one colour.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

inline GLuint LinkGlProgram(const char* vertex, const char* fragment) {
    GLuint program = glCreateProgram();
    const GLenum types[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
    const char* texts[2] = {vertex, fragment};
    for (int i = 0; i < 2; ++i) {
        GLuint stage = glCreateShader(types[i]);
        glShaderSource(stage, 1, &texts[i], nullptr);
        glCompileShader(stage);
        glAttachShader(program, stage);
    }
    glLinkProgram(program);
    return program;
}

// A w x h texture of one ARGB colour, linear filtering, no mipmaps.
inline GLuint SolidGlTexture(int w, int h, uint32_t argb) {
    GLuint t = 0;
    glGenTextures(1, &t);
    std::vector<uint32_t> px(size_t(w) * h, argb);
    glBindTexture(GL_TEXTURE_2D, t);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE, px.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    return t;
}

// A check frame: drawn on black, with nothing clipped, so that the two sides
// of a pair can be compared by what they drew.
inline void DrawOnBlack(const std::function<void()>& frame) {
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    frame();
}

// The colours (RGB) at a few pixels of a check frame drawn on black.
inline std::vector<uint8_t> SamplesOnBlack(const std::function<void()>& frame,
                                           const std::vector<std::pair<int, int>>& at) {
    DrawOnBlack(frame);
    std::vector<uint8_t> px;
    for (const auto& [x, y] : at) {
        uint8_t p[4];
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        px.insert(px.end(), p, p + 3);
    }
    return px;
}

// Whether the two sides of a pair sampled the same colours, each within the
// tolerance: a benchmark and its baseline must draw the same picture to be
// compared. Both sides' samples are taken by the check itself, whichever
// side ran and whether or not the other ran before it.
inline bool SameSamples(const std::vector<uint8_t>& one, const std::vector<uint8_t>& other, int tolerance) {
    if (one.empty() || one.size() != other.size()) return false;
    for (size_t i = 0; i < one.size(); ++i)
        if (std::abs(int(one[i]) - int(other[i])) > tolerance) return false;
    return true;
}
