// Base64: RFC 4648 encoding and decoding of byte payloads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "utilities/Export.h"

// What a decode met: status, where, and a readable description.
struct UTILITIES_API Base64Result {
    enum Status {
        Ok = 0,
        InvalidCharacter,  // a byte outside the alphabet, white space and '='
        BadPadding,        // '=' where it cannot stand, or a lone final character
        DataAfterPadding,  // alphabet characters after the closing '='
    };
    Status status = Ok;
    std::size_t offset = 0;  // offset in the text of the offending byte
    unsigned char byte = 0;  // the offending byte

    explicit operator bool() const noexcept { return status == Ok; }
    // "ok", or the problem naming the byte and its offset.
    std::string description() const;
};

// The standard alphabet (A-Z a-z 0-9 + /) with '=' padding, no line breaks.
//
// Decoding is lenient where nothing is lost and strict where guessing would be: white space
// (space, tab, CR, LF) is skipped anywhere; a missing final padding is accepted; decoding stops at
// the first byte outside the alphabet, at misplaced padding or at data after the padding, and
// gives back the bytes of every complete group before that point. No input makes it read or
// write out of bounds.
class UTILITIES_API Base64 {
public:
    // The Base64 text of size bytes at data (padded).
    static std::string Encode(const void* data, std::size_t size);
    // The bytes of size characters of text at data; a bad text gives the bytes decoded before the
    // problem (see above).
    static std::vector<char> Decode(const char* data, std::size_t size);
    // As Decode, and tells what stopped it in result.
    static std::vector<char> Decode(const char* data, std::size_t size, Base64Result& result);

    // Length of the encoding of size bytes.
    static std::size_t EncodedLength(std::size_t size) noexcept { return (size + 2) / 3 * 4; }
};
