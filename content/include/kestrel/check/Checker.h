// Checker: finds what loading a content file would drop or change without a word, with the
// line and column of the element concerned.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestrel/Export.h"

namespace kestrel::check {

// How bad a finding is: an error loses or changes something the file says; a warning is legal
// but looks like a mistake.
enum class Severity { Warning, Error };

// "warning" or "error".
KESTREL_CONTENT_API const char* SeverityName(Severity severity);

// One problem found in a document.
struct Finding {
    std::uint32_t line = 0;  // of the element concerned, counted from 1 as ParseXml counts
    std::uint32_t column = 0;
    Severity severity = Severity::Error;
    std::string code;  // short and stable, for scripts: "bad-value", "shape-structure", ...
    std::string message;
};

// What to look for.
struct CheckOptions {
    // Also report what the reader passes over harmlessly but which is likely a typo: value
    // attributes or texts that play no part, foreign prefixes, unknown attributes, duplicate
    // property names, element names differing from the property names only in letter case.
    bool strict = false;
};

// Checks the text of one input: canonical JSON when its first character after a byte order
// mark and white space is '{', a content file otherwise. Findings are in document order. Images
// are tried with the host's "bmp" loader module, as the reader does.
KESTREL_CONTENT_API std::vector<Finding> CheckDocument(const std::string& text,
                                                       const CheckOptions& options);

}  // namespace kestrel::check
