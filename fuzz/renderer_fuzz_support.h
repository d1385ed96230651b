// What the renderer's fuzzers share: a check that aborts (so libFuzzer keeps
// the input) and the shipped shader declaration, read once.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "renderer/scene/shader_declaration.h"

namespace vosh::render::fuzz {

inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

inline const ShaderDeclaration& declaration() {
    static const ShaderDeclaration decl = [] {
        ShaderDeclaration d;
        std::string error;
        if (!load_declaration(VOSH_SOURCE_DIR "/renderer/vosh_occlusion.decl.json", d, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        return d;
    }();
    return decl;
}

}  // namespace vosh::render::fuzz
