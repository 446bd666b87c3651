#pragma once

// JSON text from outside (the settings file, the stored scenes) made ready
// for a strict parser, so that one bad value costs only the member or
// element that holds it rather than the whole text. One pass over the
// bytes; the structure is left to the parser, which still refuses text
// that is not JSON. Pure function, any thread.
//
// What is repaired:
// - a number beyond the range of a double (1e400, a hundred thousand
//   digits), which a parser refuses outright, becomes `null`, so a setting
//   holding one reads as its default;
// - with `repairTexts`, a byte inside a string that is not part of
//   well-formed UTF-8, or a control character JSON does not allow there
//   raw, becomes '?'.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumenhollow {

struct JsonRepair {
    enum class Kind { none, numberOutOfRange, badText };

    struct Flaw {
        Kind kind = Kind::none;
        // Which member of the top-level object or element of the top-level
        // array held it, counted from 0.
        size_t member = 0;

        bool operator==(const Flaw&) const = default;
    };

    // The text to parse: the input with the repairs made.
    std::string text;
    // One entry per member and kind, in order of the text.
    std::vector<Flaw> flaws;
    // The first repair for a log line: the member's key (when the top level
    // is an object) and the text replaced, both cut short.
    std::string firstExample;
    // The deepest nesting of arrays and objects, brackets inside strings
    // not counted.
    int deepestNesting = 0;
};

JsonRepair repairJson(std::string_view text, bool repairTexts);

}  // namespace lumenhollow
