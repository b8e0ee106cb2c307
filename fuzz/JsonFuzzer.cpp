// Fuzz target: canonical JSON input. A tree read from any text writes a canonical text that reads
// back into a tree writing the very same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kestrel/json/ContentJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kestrel::LoadResult read = kestrel::json::ReadContentJson(text);
    (void)read.error.description();
    if (!read)
        return 0;
    const std::string canonical = kestrel::json::WriteContentJson(*read.tree);
    kestrel::LoadResult again = kestrel::json::ReadContentJson(canonical);
    if (!again || kestrel::json::WriteContentJson(*again.tree) != canonical)
        std::abort();
    return 0;
}
