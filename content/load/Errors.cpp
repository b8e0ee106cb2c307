#include "load/Errors.h"

#include <charconv>
#include <exception>
#include <new>
#include <utility>

namespace kestrel::load {

Error MakeError(Error::Code code, std::string message, std::string path) {
    Error error;
    error.code = code;
    error.message = std::move(message);
    error.path = std::move(path);
    return error;
}

Error MalformedError(const std::string& reason, const std::string& path) {
    Error error = MakeError(Error::Malformed, reason, path);
    const char* begin = reason.data();
    const char* end = begin + reason.size();
    std::uint32_t line = 0, column = 0;
    auto [afterLine, lineError] = std::from_chars(begin, end, line);
    if (lineError != std::errc() || afterLine == end || *afterLine != ':')
        return error;
    auto [afterColumn, columnError] = std::from_chars(afterLine + 1, end, column);
    if (columnError != std::errc() || afterColumn == end || *afterColumn != ':')
        return error;
    error.line = line;
    error.column = column;
    error.message = std::string(afterColumn + 1, end);
    if (!error.message.empty() && error.message.front() == ' ')
        error.message.erase(0, 1);
    return error;
}

Error FromException(const std::string& path) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return MakeError(Error::Internal, "out of memory", path);
    } catch (const std::exception& exception) {
        return MakeError(Error::Internal, exception.what(), path);
    } catch (...) {
        return MakeError(Error::Internal, "unknown exception", path);
    }
}

}  // namespace kestrel::load
