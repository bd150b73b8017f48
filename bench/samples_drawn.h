#pragma once
// The check that a benchmark's frame puts something on its target: one more
// frame after the timed ones, untimed, counted by an occlusion query. A
// frame that draws nothing (a program the device believes bound that is
// not, a texture of another context) is quick, and its figure worthless;
// the benchmark then ends with an error instead.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <benchmark/benchmark.h>

namespace bench {

template <class Frame>
GLuint SamplesDrawn(Frame&& frame) {
    GLuint query = 0, samples = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_SAMPLES_PASSED, query);
    frame();
    glEndQuery(GL_SAMPLES_PASSED);
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &samples);
    glDeleteQueries(1, &query);
    return samples;
}

template <class Frame>
void RequireDrawn(benchmark::State& state, Frame&& frame) {
    if (!state.error_occurred() && SamplesDrawn(frame) == 0) state.SkipWithError("a frame drew nothing");
}

}  // namespace bench
