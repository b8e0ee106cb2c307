#include "kestrel/load/Content.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "MakeError.h"
#include "geometry/XmlElem.h"
#include "kernel/SerializedContentVisitor.h"
#include "kestrel/files/AtomicFile.h"
#include "kestrel/paths/ContentPath.h"
#include "kestrel/values/ValueTraits.h"
#include "load/Progress.h"
#include "serializedContent/xmlwriter/XmlParser.h"
#include "serializedContent/xmlwriter/XmlWriter.h"
#include "utilities/OrbTracer.h"

namespace kestrel {

namespace {

using load::Report;

LoadResult ParseText(const std::string& xml, const LoadOptions& options) {
    LoadResult result;
    const std::uint64_t total = xml.size();
    if (!Report(options.progress, 0, total)) {
        result.error = MakeError(Error::Cancelled, "cancelled");
        return result;
    }
    const XmlParseResult parsed = ParseXmlDocument(xml, false);
    if (!parsed) {
        result.error = MalformedXml(parsed, {});
        return result;
    }
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    serializedContent::XmlParser().Parse(parsed.root.get(), top.get());
    if (!Report(options.progress, total, total)) {
        result.error = MakeError(Error::Cancelled, "cancelled");
        return result;
    }
    result.tree = std::move(top);
    return result;
}

// Whether "kestrel_sc:" + name is an XML name: letters, digits, '.', '-', '_', ':' and anything
// beyond ASCII.
bool FitsXmlName(std::string_view name) {
    for (unsigned char c : name) {
        const bool ascii = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':';
        if (!ascii && c < 0x80)
            return false;
    }
    return true;
}

// The element tree the module's writer makes of tree, below a root that declares the prefix for
// namespace-aware XML tools (the reader itself goes by names). Throws what the writer throws.
XmlTree BuildXml(const SerializedContentElement& tree) {
    XmlTree root(NewXmlElem(
        Symbol(std::string(values::kElementPrefix) + std::string(tree.GetName())), false));
    root->SetAttribute(Symbol(kNamespaceAttribute), kNamespaceName);
    serializedContent::XmlWriter writer(root.get());
    WalkContent(tree, writer, WalkTop::ContentsOnly);
    return root;
}

XmlWriteOptions Layout(const SaveOptions& options) {
    XmlWriteOptions layout;
    layout.indent = options.indent;
    return layout;
}

// Writes the text of tree straight into a new temporary file beside path, a chunk at a time, and
// renames it over path; the temporary file is gone again whatever happens. Progress goes by
// the size the text is expected to have until the end, which reports the size it had.
Error WriteAtomically(const std::string& path, const SerializedContentElement& tree,
                      const SaveOptions& options) {
    const XmlTree root = BuildXml(tree);
    const XmlWriteOptions layout = Layout(options);
    const std::uint64_t expected = EstimateXmlSize(*root, layout);
    if (!Report(options.progress, 0, expected))
        return MakeError(Error::Cancelled, "cancelled", path);
    constexpr std::uint64_t kStep = std::uint64_t{1} << 20;
    // What the writing or a progress callback throws ends the file like a cancellation (the
    // temporary file goes) and is thrown on from here.
    std::exception_ptr thrown;
    Error error = files::WriteFileAtomically(path, [&](std::FILE* file) {
        try {
            std::uint64_t done = 0;
            std::uint64_t reported = 0;
            bool cancelled = false;
            const bool written = WriteXml(
                *root,
                [&](std::string_view chunk) {
                    if (std::fwrite(chunk.data(), 1, chunk.size(), file) != chunk.size())
                        return false;  // the stream holds the error
                    done += chunk.size();
                    if (done - reported >= kStep) {
                        reported = done;
                        cancelled = !Report(options.progress, done, std::max(expected, done));
                    }
                    return !cancelled;
                },
                layout);
            if (cancelled)
                return false;
            return !written || Report(options.progress, done, done);
        } catch (...) {
            thrown = std::current_exception();
            return false;
        }
    });
    if (thrown)
        std::rethrow_exception(thrown);
    return error;
}

}  // namespace

void SetTraceSink(std::function<void(const std::string& line)> sink) {
    if (!sink) {
        OrbTracer::SetSink({});
        return;
    }
    OrbTracer::SetSink([sink = std::move(sink)](const TraceMessage& message) {
        sink(message.module + "/" + message.className + ": " + OrbTracer::TypeName(message.type) +
             ": " + message.text);
    });
}

LoadResult LoadText(const std::string& xml, const LoadOptions& options) {
    try {
        return ParseText(xml, options);
    } catch (...) {
        LoadResult result;
        result.error = FromException({});
        return result;
    }
}

Error CheckSavable(const SerializedContentElement& tree, bool strict) {
    if (!tree.GetProperties().empty()) {
        return MakeError(Error::NotSavable,
                         "the top element '" + std::string(tree.GetName()) +
                             "' has properties, which a content file cannot hold (only its "
                             "children are stored)");
    }
    // Below the top element's children, elements called "property" or "property_array" are read
    // as properties, so content elements of those names would not come back as elements.
    std::vector<std::pair<const SerializedContentElement*, std::size_t>> pending{{&tree, 0}};
    while (!pending.empty()) {
        const auto [element, depth] = pending.back();
        pending.pop_back();
        const std::string_view name = element->GetName().view();
        if (!FitsXmlName(name)) {
            return MakeError(Error::NotSavable, "element '" + paths::PathOf(*element) +
                                                    "': the name is not usable in XML");
        }
        if (depth >= 2 && (name == "property" || name == "property_array")) {
            return MakeError(Error::NotSavable,
                             "element '" + paths::PathOf(*element) + "': an element called '" +
                                 std::string(name) +
                                 "' below the top level would be read back as a property");
        }
        if (strict) {
            for (const SerializedContentElement::Property& property : element->GetProperties()) {
                if (!values::FactsOf(property.value).xmlCarries) {
                    return MakeError(Error::NotSavable,
                                     "property '" + std::string(property.name) + "' of '" +
                                         paths::PathOf(*element) +
                                         "' has a type content files cannot hold");
                }
            }
        }
        for (std::size_t i = element->GetChildCount(); i-- > 0;)
            pending.emplace_back(element->GetChild(i), depth + 1);
    }
    return {};
}

Error Save(const SerializedContentElement& tree, const std::string& path,
           const SaveOptions& options) {
    try {
        if (path.empty())
            return MakeError(Error::InvalidArgument, "no file name given");
        if (Error error = CheckSavable(tree, options.strict)) {
            error.path = path;
            return error;
        }
        return WriteAtomically(path, tree, options);
    } catch (...) {
        return FromException(path);
    }
}

std::string SaveText(const SerializedContentElement& tree, Error* error,
                     const SaveOptions& options) {
    Error failure;
    std::string text;
    try {
        failure = CheckSavable(tree, options.strict);
        if (!failure)
            text = WriteXml(*BuildXml(tree), Layout(options));
        if (!failure && !Report(options.progress, 0, text.size()))
            failure = MakeError(Error::Cancelled, "cancelled");
        if (!failure && !Report(options.progress, text.size(), text.size()))
            failure = MakeError(Error::Cancelled, "cancelled");
    } catch (...) {
        failure = FromException({});
    }
    if (failure)
        text.clear();
    if (error)
        *error = std::move(failure);
    return text;
}

}  // namespace kestrel
