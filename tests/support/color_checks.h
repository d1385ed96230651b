// Colour assertions shared by the module, unit and renderer tests. Header
// only, with nothing platform-specific: the cross-built tests use it too.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>

#include "host/abi_types.h"

namespace vosh::test {

inline std::string show_color(const Color& c) {
    std::ostringstream out;
    out << "(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
    return out.str();
}

// Each channel within `tolerance` of `expected`; 0 asks for equal values.
// `with_alpha` false leaves alpha unchecked.
inline void expect_color_near(const Color& actual, const Color& expected, float tolerance,
                              bool with_alpha = true) {
    EXPECT_NEAR(actual.r, expected.r, tolerance) << show_color(actual);
    EXPECT_NEAR(actual.g, expected.g, tolerance) << show_color(actual);
    EXPECT_NEAR(actual.b, expected.b, tolerance) << show_color(actual);
    if (with_alpha) {
        EXPECT_NEAR(actual.a, expected.a, tolerance) << show_color(actual);
    }
}

// Each channel within 4 units in the last place of `expected`.
inline void expect_color_float_eq(const Color& actual, const Color& expected) {
    EXPECT_FLOAT_EQ(actual.r, expected.r) << show_color(actual);
    EXPECT_FLOAT_EQ(actual.g, expected.g) << show_color(actual);
    EXPECT_FLOAT_EQ(actual.b, expected.b) << show_color(actual);
    EXPECT_FLOAT_EQ(actual.a, expected.a) << show_color(actual);
}

}  // namespace vosh::test
