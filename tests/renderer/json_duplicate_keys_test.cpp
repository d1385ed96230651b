// A key given twice in one object is refused at its second place; the same
// name in other objects, in strings or spelt with escapes is told apart.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "renderer/scene/json_document.h"
#include "renderer/scene/json_duplicate_keys.h"

namespace vosh::render {
namespace {

TEST(DuplicateKeys, RefusedWithPathAndSecondPlace) {
    const struct {
        const char* text;
        const char* error;  // empty: accepted
    } cases[] = {
        {R"({"a": 1, "b": {"a": 2}, "c": [{"a": 3}, {"a": 4}]})", ""},
        {R"({"a": "\"a\": 1, {\"a\": 2}", "b": "}", "c": "{", "d": "[,"})", ""},
        {R"({"a": 1, "a": 2})", "line 1, column 10: /a: duplicate key \"a\" (first at line 1, column 2)"},
        {"{\n  \"x\": [1, {\"k\": 0},\n        {\"k\": 1,\n         \"k\": 2}]\n}",
         "line 4, column 10: /x/2/k: duplicate key \"k\" (first at line 3, column 10)"},
        // The same key in escaped spelling, and a key holding a slash.
        {R"({"\u0061": 1, "a": 2})", "line 1, column 15: /a: duplicate key"},
        {R"({"o": {"a/b": [], "a/b": {}}})", "line 1, column 19: /o/a~1b: duplicate key \"a/b\""},
        // After a closed nested object the outer one still remembers its keys.
        {R"({"p": {"q": 1}, "r": [[]], "p": 2})", "line 1, column 28: /p: duplicate key"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(nlohmann::json::accept(c.text)) << c.text;
        std::string error;
        const bool ok = check_no_duplicate_keys(c.text, error);
        if (*c.error == '\0') {
            EXPECT_TRUE(ok) << c.text << ": " << error;
        } else {
            EXPECT_FALSE(ok) << c.text;
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << ": " << error;
        }
    }
}

// The parser takes a NUL byte for the end of the text; what follows it, a
// duplicate or an unterminated key included, must not pass unread or throw.
TEST(JsonDocument, NulByteRefusedWithItsPlace) {
    static const char after_value_text[] = "{\"a\": 1}\0{\"a\": 2, \"a\": 3}";
    static const char in_a_key_text[] = "{\n  \"gam\0ma\": 1}";
    const std::string after_value(after_value_text, sizeof after_value_text - 1);
    const std::string in_a_key(in_a_key_text, sizeof in_a_key_text - 1);
    for (const std::string& text : {after_value, in_a_key}) {
        nlohmann::json doc;
        std::string error;
        EXPECT_FALSE(parse_json_document(text, "f.json", doc, error));
        EXPECT_NE(error.find("malformed JSON: a NUL byte"), std::string::npos) << error;
        std::string ignored;
        check_no_duplicate_keys(text, ignored);  // must not throw
    }
    nlohmann::json doc;
    std::string error;
    parse_json_document(in_a_key, "f.json", doc, error);
    EXPECT_EQ(error, "f.json: line 2, column 7: malformed JSON: a NUL byte");
    EXPECT_TRUE(parse_json_document(R"({"a": "\u0000"})", "f.json", doc, error)) << error;
    EXPECT_EQ(doc["a"].get<std::string>(), std::string(1, '\0'));
}

}  // namespace
}  // namespace vosh::render
