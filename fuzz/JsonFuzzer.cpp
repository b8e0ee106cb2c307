// Fuzz target: canonical JSON input. A tree read from any text writes a canonical text that reads
// back into a tree writing the very same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ContentJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    contentjson::JsonReadResult read = contentjson::ReadContentJson(text);
    (void)read.description();
    if (!read)
        return 0;
    const std::string canonical = contentjson::WriteContentJson(*read.tree);
    contentjson::JsonReadResult again = contentjson::ReadContentJson(canonical);
    if (!again || contentjson::WriteContentJson(*again.tree) != canonical)
        std::abort();
    return 0;
}
