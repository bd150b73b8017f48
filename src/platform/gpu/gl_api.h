#pragma once
// OpenGL 3.3 core entry points, linked directly from the GL library.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
