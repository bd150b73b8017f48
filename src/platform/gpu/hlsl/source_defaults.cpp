#include "platform/gpu/hlsl/source_defaults.h"

#include <cctype>
#include <cstdlib>

namespace plat::gpu::hlsl {

namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The source without comments, strings kept.
std::string StripComments(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, 2, "//") == 0) {
            while (i < s.size() && s[i] != '\n') ++i;
        } else if (s.compare(i, 2, "/*") == 0) {
            size_t end = s.find("*/", i + 2);
            i = end == std::string::npos ? s.size() : end + 2;
            out += ' ';
        } else if (s[i] == '"') {
            size_t j = i + 1;
            while (j < s.size() && s[j] != '"' && s[j] != '\n') ++j;
            out.append(s, i, std::min(j + 1, s.size()) - i);
            i = j + 1;
        } else {
            out += s[i++];
        }
    }
    return out;
}

// Global statements: text at brace depth 0 up to ';', with function and
// struct bodies and annotation blocks skipped over.
std::vector<std::string> TopLevelStatements(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    int braces = 0;
    bool seenEquals = false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (braces == 0 && cur.find_first_not_of(" \t\r\n") == std::string::npos && c == '#') {
            while (i < s.size() && s[i] != '\n') ++i;
            continue;
        }
        if (c == '"') {
            size_t j = s.find('"', i + 1);
            if (j == std::string::npos) j = s.size() - 1;
            if (braces == 0) cur.append(s, i, j - i + 1);
            i = j;
            continue;
        }
        if (braces == 0 && !seenEquals && c == '<') {
            // Annotation: skip to the matching '>'.
            size_t j = s.find('>', i + 1);
            if (j == std::string::npos) break;
            i = j;
            cur += ' ';
            continue;
        }
        if (c == '{') {
            if (braces == 0 && !seenEquals) {
                // A body: function or struct. Skip it whole.
                int depth = 0;
                size_t j = i;
                for (; j < s.size(); ++j) {
                    if (s[j] == '{') ++depth;
                    if (s[j] == '}' && --depth == 0) break;
                }
                i = j;
                cur.clear();
                continue;
            }
            ++braces;
        } else if (c == '}') {
            if (braces > 0) --braces;
        } else if (c == '=' && braces == 0) {
            seenEquals = true;
        } else if (c == ';' && braces == 0) {
            out.push_back(cur);
            cur.clear();
            seenEquals = false;
            continue;
        }
        cur += c;
    }
    return out;
}

std::vector<std::string> Identifiers(const std::string& s) {
    std::vector<std::string> ids;
    for (size_t i = 0; i < s.size();) {
        if (IsIdentStart(s[i])) {
            size_t j = i;
            while (j < s.size() && IsIdentChar(s[j])) ++j;
            ids.push_back(s.substr(i, j - i));
            i = j;
        } else {
            ++i;
        }
    }
    return ids;
}

std::vector<float> Numbers(const std::string& s) {
    std::vector<float> v;
    char prev = '=';
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (IsIdentStart(c)) {
            size_t j = i;
            while (j < s.size() && IsIdentChar(s[j])) ++j;
            std::string id = s.substr(i, j - i);
            if (id == "true") v.push_back(1.0f);
            if (id == "false") v.push_back(0.0f);
            i = j;
            prev = 'a';
            continue;
        }
        bool sign = c == '-' && (prev == '=' || prev == '(' || prev == ',' || prev == '{');
        size_t start = i;
        if (sign) ++i;
        if (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) ||
                             (s[i] == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))))) {
            char* end = nullptr;
            std::string tail = s.substr(start, 64);
            float f = std::strtof(tail.c_str(), &end);
            size_t used = size_t(end - tail.c_str());
            if (used == 0) used = 1;
            v.push_back(f);
            i = start + used;
            while (i < s.size() && (s[i] == 'f' || s[i] == 'F' || s[i] == 'h' || s[i] == 'H')) ++i;
            prev = '0';
            continue;
        }
        i = start + 1;
        if (!std::isspace(static_cast<unsigned char>(c))) prev = c;
    }
    return v;
}

}  // namespace

std::map<std::string, std::vector<float>> ReadSourceDefaults(const std::string& source) {
    std::map<std::string, std::vector<float>> out;
    for (const std::string& st : TopLevelStatements(StripComments(source))) {
        size_t eq = st.find('=');
        if (eq == std::string::npos) continue;
        std::string left = st.substr(0, eq);
        size_t cut = left.find_first_of(":[");
        if (cut != std::string::npos) left = left.substr(0, cut);
        std::vector<std::string> ids = Identifiers(left);
        if (ids.size() < 2) continue;
        bool skip = false;
        for (const auto& id : ids)
            if (id == "static" || id == "typedef") skip = true;
        if (skip) continue;
        out[ids.back()] = Numbers(st.substr(eq + 1));
    }
    return out;
}

std::map<std::string, unsigned> ReadSamplerRegisters(const std::string& source) {
    std::map<std::string, unsigned> out;
    for (const std::string& st : TopLevelStatements(StripComments(source))) {
        size_t reg = st.find("register");
        size_t colon = st.find(':');
        if (reg == std::string::npos || colon == std::string::npos || colon > reg) continue;
        std::vector<std::string> ids = Identifiers(st.substr(0, colon));
        if (ids.empty()) continue;
        size_t p = st.find('(', reg);
        if (p == std::string::npos) continue;
        ++p;
        while (p < st.size() && std::isspace(static_cast<unsigned char>(st[p]))) ++p;
        if (p >= st.size() || (st[p] != 's' && st[p] != 'S')) continue;
        unsigned n = unsigned(std::strtoul(st.c_str() + p + 1, nullptr, 10));
        out[ids.back()] = n;
    }
    return out;
}

}  // namespace plat::gpu::hlsl
