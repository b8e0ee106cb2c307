// The one error value of the library: what failed, where, and why. Nothing in the library
// throws; operations hand back an Error (or a result holding one), and programs decide at their
// edge what it becomes (an exit status, an exception, a message).
#pragma once

#include <cstdint>
#include <string>

#include "kestrel/Export.h"

namespace kestrel {

// Why an operation failed; a default Error means success.
struct KESTREL_CONTENT_API Error {
    enum Code {
        None = 0,           // no error
        InvalidArgument,    // an empty path, or options that make no sense
        NotFound,           // the file, or a directory on its path, does not exist
        NotRegularFile,     // a directory, FIFO or device where a file was expected
        Unreadable,         // the file exists but cannot be opened or read
        Malformed,          // the text is not well-formed XML or JSON, or not a mesh or image
                            // file; line, column and offset say where when known
        Invalid,            // well-formed text that is no content tree (a JSON member missing or
                            // of the wrong shape); place says which value
        ModuleUnavailable,  // the module library cannot be opened or makes no content loader
        LoadFailed,         // the module refused the file for a reason not known more closely
        NotSavable,         // the tree cannot be written faithfully as a content file
        WriteFailed,        // the output file cannot be created, written or renamed into place
        Cancelled,          // the progress callback asked to stop
        Internal,           // out of memory, or an exception from the progress callback
    };

    Code code = None;          // what kind of failure; None for success
    std::string message;       // what went wrong, for people (without the path)
    std::string path;          // the file concerned; empty for text and trees
    std::uint32_t line = 0;    // for Malformed: the line where the text goes wrong, from 1
    std::uint32_t column = 0;  // and the column in that line, from 1; 0 when unknown
    // What the module said of a failed load (its event's message), or the system's reason when
    // the module library could not be opened; empty otherwise. message says it in other words
    // when the file could be looked at more closely.
    std::string moduleMessage;
    std::uint64_t offset = 0;  // for Malformed with a line: the byte offset in the text (as UTF-8)
    std::string place;         // for Invalid: the value concerned, as a JSON Pointer

    // True when this is an error (like std::error_code), false for success.
    explicit operator bool() const noexcept { return code != None; }
    // "path:line:column: place: message", leaving out what is unknown; empty for success.
    std::string description() const;
};

}  // namespace kestrel
