// Matrix multiply and inverse of the engine's math library against GLM
// doing the same work on the same data.
#include <benchmark/benchmark.h>

#include <glm/glm.hpp>

#include "timed.h"
#include "platform/gpu/d3dx/d3dx_math.h"

namespace {

plat::Matrix SampleMatrix(float k) {
    plat::Matrix m, t;
    plat::D3DXMatrixRotationYawPitchRoll(&m, 0.3f * k, -0.7f, 1.1f);
    plat::D3DXMatrixTranslation(&t, 4 * k, -5, 6);
    return *plat::D3DXMatrixMultiply(&m, &m, &t);
}

glm::mat4 ToGlm(const plat::Matrix& m) {
    glm::mat4 g;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) g[i][j] = m.m[i][j];
    return g;
}

void BM_MatrixMultiply(benchmark::State& state) {
    plat::Matrix a = SampleMatrix(1), b = SampleMatrix(2), out;
    bench::Timed(state, [&] {
        benchmark::DoNotOptimize(&a);
        benchmark::DoNotOptimize(&b);
        plat::D3DXMatrixMultiply(&out, &a, &b);
        benchmark::DoNotOptimize(&out);
    });
}
BENCHMARK(BM_MatrixMultiply);

void BM_MatrixMultiply_Glm(benchmark::State& state) {
    // Row vectors times matrices is column-major GLM with the operands
    // swapped: the same 64 multiply-adds.
    glm::mat4 a = ToGlm(SampleMatrix(1)), b = ToGlm(SampleMatrix(2)), out;
    bench::Timed(state, [&] {
        benchmark::DoNotOptimize(&a);
        benchmark::DoNotOptimize(&b);
        out = b * a;
        benchmark::DoNotOptimize(&out);
    });
}
BENCHMARK(BM_MatrixMultiply_Glm);

void BM_MatrixInverse(benchmark::State& state) {
    plat::Matrix a = SampleMatrix(1), out;
    bench::Timed(state, [&] {
        benchmark::DoNotOptimize(&a);
        plat::D3DXMatrixInverse(&out, nullptr, &a);
        benchmark::DoNotOptimize(&out);
    });
}
BENCHMARK(BM_MatrixInverse);

void BM_MatrixInverse_Glm(benchmark::State& state) {
    glm::mat4 a = ToGlm(SampleMatrix(1)), out;
    bench::Timed(state, [&] {
        benchmark::DoNotOptimize(&a);
        out = glm::inverse(a);
        benchmark::DoNotOptimize(&out);
    });
}
BENCHMARK(BM_MatrixInverse_Glm);

}  // namespace
