#pragma once
// The constants of one compiled stage by name, with their kinds; setting a
// value writes the stage's constant store, which the device uploads when it
// draws with that stage.
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"
#include "platform/gpu/hlsl/shader_code.h"

namespace plat::gpu {
class Device;
}

namespace plat::gpu::hlsl {

using ConstantHandle = const ConstantInfo*;

struct ConstantDesc {
    const char* name = nullptr;
    ConstantClass cls = ConstantClass::Scalar;
    uint32_t rows = 0, columns = 0, elements = 0, bytes = 0;
};

class ConstantTable : public Unknown {
public:
    explicit ConstantTable(ShaderCode* code);

    // Null when the stage has no constant of that name (or parent is given:
    // structure members are not looked up).
    ConstantHandle GetConstantByName(ConstantHandle parent, const char* name) const;
    Result GetConstantDesc(ConstantHandle handle, ConstantDesc* desc) const;
    uint32_t GetConstantCount() const { return uint32_t(code_->constants.size()); }

    // Writes every constant that has a value in the source.
    Result SetDefaults(Device* device);
    Result SetFloat(Device* device, ConstantHandle handle, float value);
    Result SetFloatArray(Device* device, ConstantHandle handle, const float* values, uint32_t count);
    Result SetVector(Device* device, ConstantHandle handle, const Vec4* value);
    Result SetMatrix(Device* device, ConstantHandle handle, const Matrix* value);

private:
    ~ConstantTable() override;
    bool Owns(ConstantHandle h) const;
    void Write(const ConstantInfo& c, uint32_t element, uint32_t row, uint32_t column, float value);
    void WriteSequence(const ConstantInfo& c, const float* values, uint32_t count);
    ShaderCode* code_;
};

}  // namespace plat::gpu::hlsl
