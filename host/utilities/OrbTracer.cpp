#include "utilities/OrbTracer.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace {

void WriteToStderr(const TraceMessage& message) {
    std::fprintf(stderr, "%s/%s: %s: %s", message.module.c_str(), message.className.c_str(),
                 OrbTracer::TypeName(message.type), message.text.c_str());
    if (message.text.empty() || message.text.back() != '\n')
        std::fputc('\n', stderr);
}

struct SinkHolder {
    std::mutex mutex;
    TraceSink sink = WriteToStderr;
};

SinkHolder& Holder() {
    static SinkHolder* holder = new SinkHolder;  // outlives static destructors that may trace
    return *holder;
}

}  // namespace

OrbTracer::OrbTracer(const char* module, const char* className)
    : module_(module ? module : ""), className_(className ? className : "") {}

void OrbTracer::operator()(TraceType type, const char* format, ...) const {
    TraceMessage message{module_, className_, type, {}};
    if (format) {
        va_list args;
        va_start(args, format);
        va_list copy;
        va_copy(copy, args);
        int length = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (length > 0) {
            std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
            std::vsnprintf(buffer.data(), buffer.size(), format, args);
            message.text.assign(buffer.data(), static_cast<std::size_t>(length));
        }
        va_end(args);
    }
    SinkHolder& holder = Holder();
    std::lock_guard<std::mutex> lock(holder.mutex);
    holder.sink(message);
}

TraceSink OrbTracer::SetSink(TraceSink sink) {
    SinkHolder& holder = Holder();
    std::lock_guard<std::mutex> lock(holder.mutex);
    TraceSink previous = std::move(holder.sink);
    holder.sink = sink ? std::move(sink) : TraceSink(WriteToStderr);
    return previous;
}

const char* OrbTracer::TypeName(TraceType type) noexcept {
    switch (type) {
        case TRACE_NONE:
            return "none";
        case TRACE_FATAL:
            return "fatal";
        case TRACE_ERROR:
            return "error";
        case TRACE_WARNING:
            return "warning";
        case TRACE_INFO:
            return "info";
        case TRACE_DEBUG:
            return "debug";
    }
    return "trace";
}
