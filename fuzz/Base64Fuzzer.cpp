// Fuzz target: Base64 decoding of arbitrary text, checked against re-encoding what it gave.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "utilities/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    Base64Result result;
    const std::vector<char> bytes = Base64::Decode(text, size, result);
    if (result.status != Base64Result::Ok && result.offset > size)
        std::abort();  // the problem must lie inside the text
    (void)result.description();
    // Whatever came out encodes and decodes back to itself.
    const std::string encoded = Base64::Encode(bytes.data(), bytes.size());
    if (encoded.size() != Base64::EncodedLength(bytes.size()))
        std::abort();
    Base64Result again;
    if (Base64::Decode(encoded.data(), encoded.size(), again) != bytes || !again)
        std::abort();
    return 0;
}
