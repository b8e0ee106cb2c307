#include "serializedContent/SerializedContentParser.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "geometry/XmlElem.h"
#include "kernel/Anchor.h"
#include "kernel/SerializedContentElement.h"
#include "serializedContent/LongPath.h"
#include "serializedContent/xmlwriter/XmlParser.h"
#include "utilities/FileSystem.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace serializedContent {

namespace {

constexpr const char* kLoadError = "Error loading orbifile.";
constexpr const char* kFileError = "Failed to get orbi file.";

// Asks Linux to back the 2 MiB-aligned part of a large buffer with huge pages: a file of tens of
// megabytes then costs a few dozen page faults instead of thousands.
void AdviseHugePages(char* data, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

// Reads the whole stream as reading it line by line would, each line followed by "\n": its
// characters and one "\n" more. It goes in large blocks into a buffer sized from the file, which
// is many times faster than line by line. False on a read error, which a directory or a
// vanishing file can cause.
bool ReadLines(std::istream& in, std::string& text) {
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    in.clear();
    // In text mode line ends may shrink, so the size is only a bound; the loop reads to the end.
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    text.reserve((size > 0 ? static_cast<std::size_t>(size) : 0) + 1);
    AdviseHugePages(text.data(), text.capacity());
    std::size_t done = 0;
    for (;;) {
        const std::size_t room = std::max(kBlock, text.capacity() - done);
        text.resize(done + room);
        in.read(text.data() + done, static_cast<std::streamsize>(room));
        done += static_cast<std::size_t>(in.gcount());
        if (!in)
            break;
    }
    text.resize(done);
    if (in.bad())
        return false;
    text += '\n';
    return true;
}

// Opens a wide path for reading in text mode. POSIX file names are bytes and the wide path came
// from UTF-8, so there it goes back to UTF-8: a path made from UTF-32 text is, whatever the C
// locale (which cannot carry non-ASCII names by default).
std::ifstream OpenText(const std::wstring& path) {
#if defined(_WIN32)
    return std::ifstream(std::filesystem::path(path));
#else
    static_assert(sizeof(wchar_t) == sizeof(char32_t), "wide strings are UTF-32 here");
    return std::ifstream(std::filesystem::path(std::u32string(path.begin(), path.end())));
#endif
}

}  // namespace

SerializedContentParser::SerializedContentParser() : loaderEvent(nullptr) {}

SerializedContentParser::SerializedContentParser(const SerializedContentParser& other)
    : orbloader::SerializedContentParser(other), loaderEvent(other.loaderEvent) {}

SerializedContentParser& SerializedContentParser::operator=(const SerializedContentParser& other) {
    orbloader::SerializedContentParser::operator=(other);
    loaderEvent = other.loaderEvent;
    return *this;
}

SerializedContentParser::~SerializedContentParser() = default;

void SerializedContentParser::LoadSerializedContent(const Symbol& file,
                                                    const SmartPtr<Anchor>& anchor,
                                                    AsyncEvent* event) {
    loaderEvent = dynamic_cast<SerializedContentLoaderEvent*>(event);
    if (!loaderEvent)
        return;
    try {
        Symbol address;
        if (anchor) {
            anchor->GetURLForFileSource(file, address, true);
        } else {
            address = file;
        }
        GetFile(address, true, Symbol::EMPTY);
    } catch (...) {
        Fail(kLoadError);
    }
}

void SerializedContentParser::OnComplete(std::uint64_t fetchId,
                                         BaseAsyncEvent::EventStatus status) {
    if (status == BaseAsyncEvent::FAILED) {
        Fail(kLoadError);
        return;
    }
    // Nothing may escape to the host's fetch thread: running out of memory fails the load.
    try {
        Symbol localName;
        if (!GetAsyncFileName(fetchId, localName)) {
            Fail(kFileError);
            return;
        }
        std::wstring path = PathForOpening(Utf8ToWideStr(localName));
        std::string text;
        {
            std::ifstream in = OpenText(path);
            if (!in.is_open() || !ReadLines(in, text)) {
                Fail(kFileError);
                return;
            }
        }
        XmlElem* root = ParseXml(text, false, nullptr);
        std::string().swap(text);  // the tree holds everything now; the text can go
        if (!root) {
            // Text that is not well-formed XML is never walked.
            Fail(kLoadError);
            return;
        }
        // Running out of memory while the content tree is built must not leak the XML tree.
        struct FreeXmlTree {
            void operator()(XmlElem* tree) const { FreeXml(tree); }
        };
        std::unique_ptr<XmlElem, FreeXmlTree> tree(root);
        SmartPtr<SerializedContentElement> top(
            SerializedContentElement::CreateTopElement("figure"));
        XmlParser parser;
        parser.Parse(tree.get(), top.get());
        tree.reset();
        if (loaderEvent) {
            loaderEvent->SetSerializedContent(top);
            loaderEvent->SetCompleted();
        }
    } catch (...) {
        Fail(kLoadError);
    }
}

void SerializedContentParser::Fail(const char* message) {
    if (loaderEvent)
        loaderEvent->SetError(Symbol(message), BaseAsyncEvent::FAILED);
    loaderEvent = nullptr;
}

}  // namespace serializedContent
