// OrbTracer: the host's diagnostic message channel.
#pragma once

#include <functional>
#include <string>

#include "utilities/Export.h"

// Kinds of trace messages, by number.
enum TraceType : int {
    TRACE_NONE = 0,
    TRACE_FATAL = 1,
    TRACE_ERROR = 2,
    TRACE_WARNING = 3,
    TRACE_INFO = 4,
    TRACE_DEBUG = 5,
};

// One emitted message.
struct TraceMessage {
    std::string module;
    std::string className;
    TraceType type = TRACE_NONE;
    std::string text;
};

// Receives every emitted message; may be called from any thread, one message at a time.
using TraceSink = std::function<void(const TraceMessage&)>;

// A tracer speaking for one module and class. Cheap to make and drop.
class UTILITIES_API OrbTracer {
public:
    // A tracer whose messages name module and className.
    OrbTracer(const char* module, const char* className);

    // Formats one printf-style message and hands it to the sink; never fails.
    void operator()(TraceType type, const char* format, ...) const KESTREL_PRINTF_FORMAT(3, 4);

    // Installs sink for all tracers and returns the previous one; an empty sink restores the
    // default, which writes "module/class: type: text" lines to stderr.
    static TraceSink SetSink(TraceSink sink);

    // The name of a trace type ("warning", ...), or "trace" for numbers outside the enumeration.
    static const char* TypeName(TraceType type) noexcept;

private:
    std::string module_;
    std::string className_;
};
