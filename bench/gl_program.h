#pragma once
// Pieces of the raw OpenGL baselines: a shader program of two stages
// compiled from text and linked, and a texture of one colour.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include <cstdint>
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
