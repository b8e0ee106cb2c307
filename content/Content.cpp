#include "kestrel/Content.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "AtomicFile.h"
#include "geometry/XmlElem.h"
#include "kernel/Anchor.h"
#include "kernel/AsyncEvent.h"
#include "kernel/ComponentLibrary.h"
#include "kernel/FileParser.h"
#include "kernel/SerializedContentVisitor.h"
#include "serializedContent/xmlwriter/PropertyTypes.h"
#include "serializedContent/xmlwriter/XmlParser.h"
#include "serializedContent/xmlwriter/XmlWriter.h"

namespace kestrel {

namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;

Error MakeError(Error::Code code, std::string message, std::string path = {}) {
    Error error;
    error.code = code;
    error.message = std::move(message);
    error.path = std::move(path);
    return error;
}

// Turns ParseXml's "line:column: reason" into a Malformed error.
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

// Asks the progress callback, if any; false when it wants the operation to stop.
bool Report(const ProgressCallback& progress, std::uint64_t done, std::uint64_t total) {
    return !progress || progress(done, total);
}

// The directory of this library, where the package puts the module too.
std::string OwnDirectory() {
#if defined(_WIN32)
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&OwnDirectory), &self)) {
        return {};
    }
    std::wstring name(32768, L'\0');
    const DWORD length = GetModuleFileNameW(self, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0 || length >= name.size())
        return {};
    name.resize(length);
    const std::u8string directory = std::filesystem::path(name).parent_path().u8string();
    return std::string(directory.begin(), directory.end());
#else
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) || !info.dli_fname ||
        !*info.dli_fname) {
        return {};
    }
    std::error_code error;
    std::filesystem::path library = std::filesystem::absolute(info.dli_fname, error);
    return error ? std::string() : library.parent_path().string();
#endif
}

// Opened modules by path. Libraries stay loaded for the whole process anyway, so keeping them
// open spares a dlopen and an OrbDllInit per load. Never destroyed: loads may run at exit.
struct ModuleCache {
    std::mutex mutex;
    std::vector<std::pair<std::string, SmartPtr<ComponentLibrary>>> opened;
};

SmartPtr<ComponentLibrary> OpenModule(const std::string& requested, Error& error) {
    std::string path = requested;
    if (path.empty()) {
        std::string directory = OwnDirectory();
        if (directory.empty()) {
            error = MakeError(Error::ModuleUnavailable,
                              "cannot tell where the content library lives; give "
                              "LoadOptions::modulePath");
            return nullptr;
        }
        path = (std::filesystem::path(directory) /
                ComponentLibrary::PlatformFileName("serializedContent"))
                   .string();
    }
    static ModuleCache* cache = new ModuleCache;
    std::lock_guard<std::mutex> lock(cache->mutex);
    for (const auto& [openedPath, library] : cache->opened) {
        if (openedPath == path)
            return library;
    }
    std::string reason;
    SmartPtr<ComponentLibrary> library = ComponentLibrary::Open(path, &reason);
    if (!library) {
        error = MakeError(Error::ModuleUnavailable, "cannot open the module: " + reason, path);
        return nullptr;
    }
    cache->opened.emplace_back(path, library);
    return library;
}

// Why the module could not load path, in the file system's or the XML parser's terms; None
// when the file looks fine (the module then had a reason of its own).
Error Diagnose(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int code = errno;
        return MakeError(code == ENOENT || code == ENOTDIR ? Error::NotFound : Error::Unreadable,
                         std::strerror(code), path);
    }
    if (S_ISDIR(info.st_mode))
        return MakeError(Error::NotRegularFile, "is a directory", path);
    if (!S_ISREG(info.st_mode))
        return MakeError(Error::NotRegularFile, "not a regular file", path);
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return MakeError(Error::Unreadable, std::strerror(errno ? errno : EACCES), path);
    std::ostringstream text;
    text << in.rdbuf();
    std::string reason;
    XmlElem* root = ParseXml(text.str(), false, &reason);
    if (root) {
        FreeXml(root);
        return {};
    }
    return MalformedError(reason, path);
}

// The size of the file at path for progress reports; 0 when it cannot be told.
std::uint64_t FileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

LoadResult LoadThroughModule(const std::string& path, const LoadOptions& options) {
    LoadResult result;
    if (path.empty()) {
        result.error = MakeError(Error::InvalidArgument, "no file name given");
        return result;
    }
    const std::uint64_t total = FileSize(path);
    if (!Report(options.progress, 0, total)) {
        result.error = MakeError(Error::Cancelled, "cancelled", path);
        return result;
    }
    SmartPtr<ComponentLibrary> module = OpenModule(options.modulePath, result.error);
    if (!module)
        return result;
    SmartPtr<RefCounted> component;
    if (!module->CreateComponent("loader", "serializedcontent", component) || !component) {
        result.error = MakeError(Error::ModuleUnavailable, "the module made no content loader",
                                 module->GetPath());
        return result;
    }
    auto* loader = dynamic_cast<orbloader::SerializedContentParser*>(component.get());
    if (!loader) {
        result.error = MakeError(Error::ModuleUnavailable,
                                 "the module's loader is not a content loader", module->GetPath());
        return result;
    }
    SmartPtr<SerializedContentLoaderEvent> event(new SerializedContentLoaderEvent);
    SmartPtr<Anchor> anchor(new Anchor(Symbol::EMPTY));
    loader->LoadSerializedContent(Symbol(path), anchor, event.get());
    event->Wait();
    if (event->GetStatus() == BaseAsyncEvent::SUCCEEDED && event->GetSerializedContent()) {
        if (!Report(options.progress, total, total)) {
            result.error = MakeError(Error::Cancelled, "cancelled", path);
            return result;
        }
        result.tree = event->GetSerializedContent();
        return result;
    }
    // The module only says "Error loading orbifile."; look again to tell the caller why.
    result.error = Diagnose(path);
    if (!result.error) {
        std::string message = event->GetErrorMessage();
        result.error = MakeError(
            Error::LoadFailed, message.empty() ? "the load ended without content" : message, path);
    }
    return result;
}

LoadResult ParseText(const std::string& xml, const LoadOptions& options) {
    LoadResult result;
    const std::uint64_t total = xml.size();
    if (!Report(options.progress, 0, total)) {
        result.error = MakeError(Error::Cancelled, "cancelled");
        return result;
    }
    std::string reason;
    XmlElem* root = ParseXml(xml, false, &reason);
    if (!root) {
        result.error = MalformedError(reason, {});
        return result;
    }
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    try {
        serializedContent::XmlParser().Parse(root, top.get());
    } catch (...) {
        FreeXml(root);
        throw;
    }
    FreeXml(root);
    if (!Report(options.progress, total, total)) {
        result.error = MakeError(Error::Cancelled, "cancelled");
        return result;
    }
    result.tree = std::move(top);
    return result;
}

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {
    using Element = T;
};

// Whether the writer has an element form for a property value of type T.
template <class T>
constexpr bool Writable() {
    if constexpr (IsVector<T>::value) {
        using Element = typename IsVector<T>::Element;
        return std::is_same_v<Element, SmartPtr<Shape>> ||
               serializedContent::AnyOf(serializedContent::ArrayValueTypes{},
                                        []<class U>() { return std::is_same_v<U, Element>; });
    } else {
        return !std::is_same_v<T, DHex>;
    }
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

// "figure/parts/wheel": the names from the top element down to element.
std::string PathOf(const SerializedContentElement& element) {
    std::vector<std::string_view> names;
    for (const SerializedContentElement* at = &element; at; at = at->GetParent())
        names.push_back(at->GetName().view());
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty())
            path += '/';
        path += *name;
    }
    return path;
}

// Refuses trees a content file would not give back: properties on the top element (the root
// carries none), names that are not XML names, and (under strict) values without an XML form.
// The content file text for tree, or an error.
Error WriteText(const SerializedContentElement& tree, const SaveOptions& options,
                std::string& text) {
    if (Error error = CheckSavable(tree, options.strict))
        return error;
    XmlElem* root = NewXmlElem(Symbol("kestrel_sc:" + std::string(tree.GetName())), false);
    try {
        // The prefix is declared for namespace-aware XML tools; the reader itself goes by names.
        root->SetAttribute(Symbol(kNamespaceAttribute), kNamespaceName);
        serializedContent::XmlWriter writer(root);
        WalkContent(tree, writer, WalkTop::ContentsOnly);
        XmlWriteOptions layout;
        layout.indent = options.indent;
        text = WriteXml(*root, layout);
    } catch (...) {
        FreeXml(root);
        throw;
    }
    FreeXml(root);
    return {};
}

// Writes text to a new temporary file beside path in chunks, reporting each, and renames it
// over path; the temporary file is gone again whatever happens.
Error WriteAtomically(const std::string& path, const std::string& text,
                      const ProgressCallback& progress) {
    const std::uint64_t total = text.size();
    if (!Report(progress, 0, total))
        return MakeError(Error::Cancelled, "cancelled", path);
    bool cancelled = false;
    std::string failure;
    const bool written = toolfiles::WriteFileAtomically(
        path,
        [&](std::FILE* file) {
            for (std::size_t done = 0; done < text.size();) {
                const std::size_t chunk = std::min(kChunkSize, text.size() - done);
                if (std::fwrite(text.data() + done, 1, chunk, file) != chunk)
                    return true;  // the stream holds the error
                done += chunk;
                if (!Report(progress, done, total)) {
                    cancelled = true;
                    return false;
                }
            }
            return true;
        },
        failure);
    if (written)
        return {};
    if (cancelled)
        return MakeError(Error::Cancelled, "cancelled", path);
    // The reason without the "<path>: " the writer puts first.
    if (failure.compare(0, path.size() + 2, path + ": ") == 0)
        failure.erase(0, path.size() + 2);
    return MakeError(Error::WriteFailed, failure, path);
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

}  // namespace

std::string Error::description() const {
    if (code == None)
        return {};
    std::string text = path;
    if (line != 0) {
        if (!text.empty())
            text += ':';
        text += std::to_string(line) + ':' + std::to_string(column);
    }
    if (!text.empty())
        text += ": ";
    return text + message;
}

LoadResult Load(const std::string& path, const LoadOptions& options) {
    try {
        return LoadThroughModule(path, options);
    } catch (...) {
        LoadResult result;
        result.error = FromException(path);
        return result;
    }
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
            return MakeError(Error::NotSavable,
                             "element '" + PathOf(*element) + "': the name is not usable in XML");
        }
        if (depth >= 2 && (name == "property" || name == "property_array")) {
            return MakeError(Error::NotSavable,
                             "element '" + PathOf(*element) + "': an element called '" +
                                 std::string(name) +
                                 "' below the top level would be read back as a property");
        }
        if (strict) {
            for (const SerializedContentElement::Property& property : element->GetProperties()) {
                const bool writable =
                    std::visit([]<class T>(const T&) { return Writable<T>(); }, property.value);
                if (!writable) {
                    return MakeError(Error::NotSavable,
                                     "property '" + std::string(property.name) + "' of '" +
                                         PathOf(*element) +
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
        std::string text;
        if (Error error = WriteText(tree, options, text)) {
            error.path = path;
            return error;
        }
        return WriteAtomically(path, text, options.progress);
    } catch (...) {
        return FromException(path);
    }
}

std::string SaveText(const SerializedContentElement& tree, Error* error,
                     const SaveOptions& options) {
    Error failure;
    std::string text;
    try {
        failure = WriteText(tree, options, text);
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
