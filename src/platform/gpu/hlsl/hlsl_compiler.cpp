#define ENABLE_HLSL 1
#include "platform/gpu/hlsl/hlsl_compiler.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_cross/spirv_glsl.hpp>

#include <algorithm>
#include <cctype>
#include <exception>
#include <set>

#include "platform/gpu/hlsl/source_defaults.h"

namespace plat::gpu::hlsl {

namespace {

bool g_glslangReady = false;

// POSITION, COLOR0, TEXCOORD3 ...: upper case, a missing index is 0.
std::string NormaliseSemantic(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (s.rfind("SV_", 0) == 0) {
        if (s == "SV_POSITION") return "POSITION";
        if (s.rfind("SV_TARGET", 0) == 0) s = "COLOR" + s.substr(9);
    }
    if (s.empty() || !std::isdigit(static_cast<unsigned char>(s.back()))) s += "0";
    if (s == "POSITION0" || s == "VPOS0") return "POSITION";
    return s;
}

const char* Swizzle(uint32_t n) {
    switch (n) {
        case 1: return ".x";
        case 2: return ".xy";
        case 3: return ".xyz";
        default: return "";
    }
}

// Turns the line "[layout(...)] [flat] <in|out> <type> <name>;" into a
// plain global "<type> <name>;".
bool DemoteDeclaration(std::string& text, const std::string& name) {
    const std::string tail = " " + name + ";";
    for (size_t at = text.find(tail); at != std::string::npos; at = text.find(tail, at + 1)) {
        size_t end = at + tail.size();
        if (end < text.size() && text[end] != '\n') continue;
        size_t start = text.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        std::string head = text.substr(start, at - start);
        size_t typeStart = head.rfind(' ');
        if (typeStart == std::string::npos) continue;
        std::string type = head.substr(typeStart + 1);
        std::string quals = head.substr(0, typeStart);
        if (quals.size() < 2) continue;
        const std::string last = quals.substr(quals.rfind(' ') == std::string::npos ? 0 : quals.rfind(' ') + 1);
        if (last != "in" && last != "out") continue;
        text.replace(start, end - start, type + " " + name + ";");
        return true;
    }
    return false;
}

// llvmpipe's compiled texture look-ups can read far outside the texture at
// non-finite coordinates (a shader's normalize() of a zero vector, a
// division by zero), taking the whole game down. Every look-up goes through
// a function that turns the coordinates' NaN and infinite components into
// 0; finite coordinates are passed on unchanged.
const char* const kLookUps[] = {"textureProjGrad", "textureProjLod", "textureProj", "textureGrad",
                                "textureLod", "texture"};

// The bias forms exist only in the pixel stage.
std::string LookUpGuards(bool bias) {
    std::string out =
        "float qFinite(float v) { return abs(v) <= 3.402823466e38 ? v : 0.0; }\n"
        "vec2 qFinite(vec2 v) { return mix(vec2(0.0), v, lessThanEqual(abs(v), vec2(3.402823466e38))); }\n"
        "vec3 qFinite(vec3 v) { return mix(vec3(0.0), v, lessThanEqual(abs(v), vec3(3.402823466e38))); }\n"
        "vec4 qFinite(vec4 v) { return mix(vec4(0.0), v, lessThanEqual(abs(v), vec4(3.402823466e38))); }\n";
    struct Sampler {
        const char* type;
        const char* coord;         // texture, textureLod, textureGrad
        const char* projected[2];  // textureProj, textureProjLod, textureProjGrad
    };
    const Sampler samplers[] = {{"sampler1D", "float", {"vec2", "vec4"}},
                                {"sampler2D", "vec2", {"vec3", "vec4"}},
                                {"sampler3D", "vec3", {"vec4", nullptr}},
                                {"samplerCube", "vec3", {nullptr, nullptr}}};
    for (const Sampler& s : samplers) {
        const std::string t = s.type, c = s.coord;
        out += "vec4 q_texture(" + t + " s, " + c + " c) { return texture(s, qFinite(c)); }\n";
        if (bias)
            out += "vec4 q_texture(" + t + " s, " + c + " c, float b) { return texture(s, qFinite(c), qFinite(b)); }\n";
        out += "vec4 q_textureLod(" + t + " s, " + c + " c, float l) { return textureLod(s, qFinite(c), qFinite(l)); }\n";
        out += "vec4 q_textureGrad(" + t + " s, " + c + " c, " + c + " x, " + c +
               " y) { return textureGrad(s, qFinite(c), qFinite(x), qFinite(y)); }\n";
        for (const char* projected : s.projected) {
            if (!projected) continue;
            const std::string p = projected;
            out += "vec4 q_textureProj(" + t + " s, " + p + " c) { return textureProj(s, qFinite(c)); }\n";
            if (bias)
                out += "vec4 q_textureProj(" + t + " s, " + p +
                       " c, float b) { return textureProj(s, qFinite(c), qFinite(b)); }\n";
            out += "vec4 q_textureProjLod(" + t + " s, " + p +
                   " c, float l) { return textureProjLod(s, qFinite(c), qFinite(l)); }\n";
            out += "vec4 q_textureProjGrad(" + t + " s, " + p + " c, " + c + " x, " + c +
                   " y) { return textureProjGrad(s, qFinite(c), qFinite(x), qFinite(y)); }\n";
        }
    }
    return out;
}

bool IdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Sends the translated code's texture look-ups through the guards above.
void GuardLookUps(std::string& src, Stage stage) {
    bool used = false;
    for (size_t at = 0; at < src.size(); ++at) {
        if (!std::isalpha(static_cast<unsigned char>(src[at])) || (at > 0 && IdentifierChar(src[at - 1]))) continue;
        size_t end = at;
        while (end < src.size() && IdentifierChar(src[end])) ++end;
        const std::string word = src.substr(at, end - at);
        size_t open = end;
        while (open < src.size() && src[open] == ' ') ++open;
        if (open < src.size() && src[open] == '(' &&
            std::find(std::begin(kLookUps), std::end(kLookUps), word) != std::end(kLookUps)) {
            src.insert(at, "q_");
            end += 2;
            used = true;
        }
        at = end;
    }
    if (!used) return;
    // After the "#version" and "#extension" lines.
    size_t at = 0;
    while (at < src.size() && src[at] == '#') {
        size_t eol = src.find('\n', at);
        at = eol == std::string::npos ? src.size() : eol + 1;
    }
    src.insert(at, LookUpGuards(stage == Stage::Pixel));
}

}  // namespace

Result CompileShader(const char* source, size_t length, const char* entry, const char* profile, uint32_t,
                     ShaderCode** code, std::string* messages, ConstantTable** table) {
    if (messages) messages->clear();
    if (code) *code = nullptr;
    if (table) *table = nullptr;
    if (!source || !entry || !profile || !code) return kInvalidCall;
    std::string prof = profile;
    Stage stage;
    if (prof.rfind("vs_", 0) == 0)
        stage = Stage::Vertex;
    else if (prof.rfind("ps_", 0) == 0)
        stage = Stage::Pixel;
    else {
        if (messages) *messages = "unknown profile " + prof;
        return kInvalidCall;
    }
    if (!g_glslangReady) {
        glslang::InitializeProcess();
        g_glslangReady = true;
    }
    const std::string text(source, length);
    const EShLanguage lang = stage == Stage::Vertex ? EShLangVertex : EShLangFragment;
    const EShMessages rules =
        EShMessages(EShMsgReadHlsl | EShMsgHlslDX9Compatible | EShMsgSpvRules | EShMsgHlslLegalization);
    std::vector<uint32_t> spirv;
    {
        glslang::TShader shader(lang);
        const char* strings[] = {text.c_str()};
        const int lengths[] = {int(text.size())};
        const char* names[] = {"shader"};
        shader.setStringsWithLengthsAndNames(strings, lengths, names, 1);
        shader.setEntryPoint(entry);
        shader.setSourceEntryPoint(entry);
        shader.setEnvInput(glslang::EShSourceHlsl, lang, glslang::EShClientOpenGL, 100);
        shader.setEnvClient(glslang::EShClientOpenGL, glslang::EShTargetOpenGL_450);
        shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
        shader.setEnvTargetHlslFunctionality1();
        shader.setAutoMapLocations(true);
        shader.setAutoMapBindings(true);
        bool ok = shader.parse(GetDefaultResources(), 100, false, rules);
        std::string log = shader.getInfoLog();
        if (messages && log.find_first_not_of(" \r\n") != std::string::npos) *messages = log;
        if (!ok) return kFail;
        glslang::TProgram program;
        program.addShader(&shader);
        if (!program.link(rules) || !program.mapIO()) {
            if (messages) *messages += program.getInfoLog();
            return kFail;
        }
        glslang::SpvOptions options;
        options.disableOptimizer = false;
        glslang::GlslangToSpv(*program.getIntermediate(lang), spirv, &options);
    }

    auto* out = new ShaderCode();
    out->stage = stage;
    out->store = std::make_shared<ConstantStore>();
    try {
        spirv_cross::CompilerGLSL glsl(std::move(spirv));
        spirv_cross::ShaderResources res = glsl.get_shader_resources();
        // Inputs and outputs by semantic.
        std::set<std::string> used;
        auto semanticOf = [&](spirv_cross::ID id) {
            return NormaliseSemantic(glsl.get_decoration_string(id, spv::DecorationUserSemantic));
        };
        for (const auto& r : res.stage_inputs) {
            std::string sem = semanticOf(r.id);
            uint32_t comps = glsl.get_type(r.type_id).vecsize;
            if (!used.insert("in" + sem).second) continue;
            if (stage == Stage::Vertex) {
                glsl.set_name(r.id, "qa_" + sem);
                glsl.set_decoration(r.id, spv::DecorationLocation, AttributeLocation(sem));
            } else {
                glsl.set_name(r.id, StageVarName(sem));
                glsl.unset_decoration(r.id, spv::DecorationLocation);
            }
            out->inputs.push_back({sem, comps});
        }
        for (const auto& r : res.stage_outputs) {
            std::string sem = semanticOf(r.id);
            uint32_t comps = glsl.get_type(r.type_id).vecsize;
            if (stage == Stage::Vertex) {
                glsl.set_name(r.id, StageVarName(sem));
                glsl.unset_decoration(r.id, spv::DecorationLocation);
            } else {
                uint32_t index = sem.rfind("COLOR", 0) == 0 ? uint32_t(sem[5] - '0') : 0;
                glsl.set_name(r.id, "qo_" + sem);
                glsl.set_decoration(r.id, spv::DecorationLocation, index);
            }
            out->outputs.push_back({sem, comps});
        }
        if (stage == Stage::Vertex &&
            std::none_of(out->outputs.begin(), out->outputs.end(),
                         [](const Varying& v) { return v.semantic == "POSITION"; })) {
            if (messages) *messages += "shader(0): error: the vertex shader writes no POSITION\n";
            out->Release();
            return kFail;
        }
        // Constants: the stage's global block, renamed apart from the other stage's.
        const auto defaults = ReadSourceDefaults(text);
        for (const auto& r : res.uniform_buffers) {
            const auto& type = glsl.get_type(r.base_type_id);
            glsl.set_name(r.base_type_id, stage == Stage::Vertex ? kVertexBlockName : kPixelBlockName);
            glsl.set_name(r.id, stage == Stage::Vertex ? "qvg" : "qpg");
            size_t size = glsl.get_declared_struct_size(type);
            out->store->bytes.assign((size + 15) & ~size_t(15), 0);
            for (uint32_t i = 0; i < type.member_types.size(); ++i) {
                const auto& mt = glsl.get_type(type.member_types[i]);
                ConstantInfo c;
                c.name = glsl.get_member_name(type.self, i);
                c.offset = glsl.type_struct_member_offset(type, i);
                c.bytes = uint32_t(glsl.get_declared_struct_member_size(type, i));
                c.elements = mt.array.empty() ? 1 : std::max(1u, mt.array[0]);
                c.arrayStride = mt.array.empty() ? 0 : glsl.type_struct_member_array_stride(type, i);
                c.integer = mt.basetype != spirv_cross::SPIRType::Float;
                if (mt.columns > 1) {
                    // HLSL rows are SPIR-V columns; a row-major decoration
                    // means the source's columns are stored whole.
                    const bool spvRowMajor = glsl.has_member_decoration(type.self, i, spv::DecorationRowMajor);
                    c.rows = mt.columns;
                    c.columns = mt.vecsize;
                    c.matrixStride = glsl.type_struct_member_matrix_stride(type, i);
                    c.rowsContiguous = !spvRowMajor;
                    c.cls = spvRowMajor ? ConstantClass::MatrixColumns : ConstantClass::MatrixRows;
                } else {
                    c.rows = 1;
                    c.columns = mt.vecsize;
                    c.cls = mt.vecsize == 1 ? ConstantClass::Scalar : ConstantClass::Vector;
                }
                auto d = defaults.find(c.name);
                if (d != defaults.end()) c.defaults = d->second;
                out->constants.push_back(c);
            }
            break;  // DirectX 9 code has the one global block
        }
        // Samplers: "register(sN)" puts one on unit N, the others take the
        // lowest free units in order.
        const auto registers = ReadSamplerRegisters(text);
        std::set<uint32_t> taken;
        for (const auto& r : res.sampled_images) {
            auto it = registers.find(glsl.get_name(r.id));
            if (it != registers.end()) taken.insert(it->second);
        }
        for (const auto& r : res.sampled_images) {
            SamplerBinding b;
            std::string name = glsl.get_name(r.id);
            auto it = registers.find(name);
            if (it != registers.end()) {
                b.unit = it->second;
            } else {
                uint32_t u = 0;
                while (taken.count(u)) ++u;
                taken.insert(u);
                b.unit = u;
            }
            b.glslName = "qt_" + name;
            glsl.set_name(r.id, b.glslName);
            glsl.unset_decoration(r.id, spv::DecorationBinding);
            b.cube = glsl.get_type(r.type_id).image.dim == spv::DimCube;
            out->samplers.push_back(b);
            ConstantInfo c;
            c.name = name;
            c.cls = ConstantClass::Object;
            out->constants.push_back(c);
        }
        spirv_cross::CompilerGLSL::Options opts;
        opts.version = 330;
        opts.es = false;
        opts.enable_420pack_extension = false;
        opts.vertex.fixup_clipspace = false;
        opts.vertex.flip_vert_y = false;
        glsl.set_common_options(opts);
        std::string src = glsl.compile();
        GuardLookUps(src, stage);
        // The stages' own copies become plain globals; the linked varyings
        // are vec4 named by semantic, so stages of different widths still meet.
        if (stage == Stage::Vertex) {
            for (const Varying& v : out->outputs) DemoteDeclaration(src, StageVarName(v.semantic));
            size_t close = src.rfind('}');
            if (close != std::string::npos) src.erase(close);
        } else {
            std::string copies;
            for (const Varying& v : out->inputs) {
                const std::string own = StageVarName(v.semantic);
                if (!DemoteDeclaration(src, own)) continue;
                size_t eol = src.find('\n');
                src.insert(eol + 1, std::string("in vec4 ") + VaryingName(v.semantic) + ";\n");
                copies += "    " + own + " = " + VaryingName(v.semantic) + Swizzle(v.components) + ";\n";
            }
            size_t main = src.find("void main()");
            size_t brace = main == std::string::npos ? main : src.find('{', main);
            if (brace != std::string::npos) src.insert(brace + 2, copies);
        }
        out->glsl = std::move(src);
    } catch (const std::exception& e) {
        if (messages) *messages += std::string("shader(0): error: ") + e.what() + "\n";
        out->Release();
        return kFail;
    }
    // The store starts with the source's values.
    if (table) {
        *table = new ConstantTable(out);
        (*table)->SetDefaults(nullptr);
    } else {
        ConstantTable* t = new ConstantTable(out);
        t->SetDefaults(nullptr);
        t->Release();
    }
    *code = out;
    return kOk;
}

}  // namespace plat::gpu::hlsl
