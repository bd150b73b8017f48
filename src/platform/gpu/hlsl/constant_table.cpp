#include "platform/gpu/hlsl/constant_table.h"

#include <cstring>

namespace plat::gpu::hlsl {

ConstantTable::ConstantTable(ShaderCode* code) : code_(code) { code_->AddRef(); }

ConstantTable::~ConstantTable() { code_->Release(); }

bool ConstantTable::Owns(ConstantHandle h) const {
    if (!h || code_->constants.empty()) return false;
    return h >= &code_->constants.front() && h <= &code_->constants.back();
}

ConstantHandle ConstantTable::GetConstantByName(ConstantHandle parent, const char* name) const {
    if (parent || !name) return nullptr;
    for (const ConstantInfo& c : code_->constants)
        if (c.name == name) return &c;
    return nullptr;
}

Result ConstantTable::GetConstantDesc(ConstantHandle h, ConstantDesc* desc) const {
    if (!Owns(h) || !desc) return kInvalidCall;
    desc->name = h->name.c_str();
    desc->cls = h->cls;
    desc->rows = h->rows;
    desc->columns = h->columns;
    desc->elements = h->elements;
    desc->bytes = h->bytes;
    return kOk;
}

void ConstantTable::Write(const ConstantInfo& c, uint32_t element, uint32_t row, uint32_t column, float value) {
    if (c.cls == ConstantClass::Object || element >= c.elements || row >= c.rows || column >= c.columns) return;
    size_t at = c.offset + size_t(element) * c.arrayStride;
    if (c.rows > 1)
        at += c.rowsContiguous ? size_t(row) * c.matrixStride + column * 4 : size_t(column) * c.matrixStride + row * 4;
    else
        at += size_t(column) * 4;
    auto& bytes = code_->store->bytes;
    if (at + 4 > bytes.size()) return;
    if (c.integer) {
        int32_t i = value >= 2147483520.0f ? INT32_MAX : value <= -2147483648.0f ? INT32_MIN : int32_t(value);
        std::memcpy(&bytes[at], &i, 4);
    } else {
        std::memcpy(&bytes[at], &value, 4);
    }
}

// Values in source order: element by element, each row by row.
void ConstantTable::WriteSequence(const ConstantInfo& c, const float* values, uint32_t count) {
    uint32_t k = 0;
    for (uint32_t e = 0; e < c.elements && k < count; ++e)
        for (uint32_t r = 0; r < c.rows && k < count; ++r)
            for (uint32_t col = 0; col < c.columns && k < count; ++col) Write(c, e, r, col, values[k++]);
    ++code_->store->version;
}

Result ConstantTable::SetDefaults(Device*) {
    for (const ConstantInfo& c : code_->constants)
        if (!c.defaults.empty()) WriteSequence(c, c.defaults.data(), uint32_t(c.defaults.size()));
    return kOk;
}

Result ConstantTable::SetFloat(Device*, ConstantHandle h, float value) {
    if (!Owns(h) || h->cls == ConstantClass::Object) return kInvalidCall;
    WriteSequence(*h, &value, 1);
    return kOk;
}

Result ConstantTable::SetFloatArray(Device*, ConstantHandle h, const float* values, uint32_t count) {
    if (!Owns(h) || !values || h->cls == ConstantClass::Object) return kInvalidCall;
    WriteSequence(*h, values, count);
    return kOk;
}

Result ConstantTable::SetVector(Device*, ConstantHandle h, const Vec4* v) {
    if (!Owns(h) || !v || h->cls == ConstantClass::Object) return kInvalidCall;
    const float f[4] = {v->x, v->y, v->z, v->w};
    if (h->rows > 1) return kInvalidCall;
    WriteSequence(*h, f, h->columns < 4 ? h->columns : 4);
    return kOk;
}

Result ConstantTable::SetMatrix(Device*, ConstantHandle h, const Matrix* m) {
    if (!Owns(h) || !m) return kInvalidCall;
    if (h->cls != ConstantClass::MatrixRows && h->cls != ConstantClass::MatrixColumns) return kInvalidCall;
    for (uint32_t r = 0; r < h->rows && r < 4; ++r)
        for (uint32_t c = 0; c < h->columns && c < 4; ++c) Write(*h, 0, r, c, m->m[r][c]);
    ++code_->store->version;
    return kOk;
}

}  // namespace plat::gpu::hlsl
