#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

#include "MakeError.h"

namespace kestrel {

std::string Error::description() const {
    if (code == None)
        return {};
    std::string text = path;
    if (line != 0) {
        if (!text.empty())
            text += ':';
        text += std::to_string(line);
        if (column != 0)
            text += ':' + std::to_string(column);
    }
    for (const std::string* part : {&place, &message}) {
        if (part->empty())
            continue;
        if (!text.empty())
            text += ": ";
        text += *part;
    }
    return text;
}

Error MakeError(Error::Code code, std::string message, std::string path) {
    Error error;
    error.code = code;
    error.message = std::move(message);
    error.path = std::move(path);
    return error;
}

Error MalformedXml(const XmlParseResult& parsed, std::string path) {
    Error error = MakeError(Error::Malformed, parsed.reason, std::move(path));
    error.line = parsed.line;
    error.column = parsed.column;
    error.offset = parsed.offset;
    return error;
}

Error FileError(int error, std::string path) {
    return MakeError(error == ENOENT || error == ENOTDIR ? Error::NotFound : Error::Unreadable,
                     std::strerror(error), std::move(path));
}

Error FromException(std::string path) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return MakeError(Error::Internal, "out of memory", std::move(path));
    } catch (const std::exception& exception) {
        return MakeError(Error::Internal, exception.what(), std::move(path));
    } catch (...) {
        return MakeError(Error::Internal, "unknown exception", std::move(path));
    }
}

}  // namespace kestrel
