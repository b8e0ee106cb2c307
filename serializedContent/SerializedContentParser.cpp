#include "serializedContent/SerializedContentParser.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "geometry/XmlElem.h"
#include "kernel/Anchor.h"
#include "kernel/SerializedContentElement.h"
#include "serializedContent/LongPath.h"
#include "serializedContent/xmlwriter/XmlParser.h"
#include "utilities/FileSystem.h"

namespace serializedContent {

namespace {

constexpr const char* kLoadError = "Error loading orbifile.";
constexpr const char* kFileError = "Failed to get orbi file.";

// Reads the stream line by line, each line followed by "\n"; false on a read error, which a
// directory or a vanishing file can cause and which would otherwise never reach end of file.
bool ReadLines(std::istream& in, std::string& text) {
    std::string line;
    while (!in.eof()) {
        std::getline(in, line);
        if (in.bad() || (in.fail() && !in.eof()))
            return false;
        text += line;
        text += '\n';
    }
    return true;
}

// Opens a wide path for reading in text mode.
std::ifstream OpenText(const std::wstring& path) {
#if defined(_WIN32)
    return std::ifstream(std::filesystem::path(path));
#else
    // POSIX file names are bytes; the wide path came from UTF-8, so it goes back to UTF-8 rather
    // than through the C locale, which cannot carry non-ASCII names by default.
    return std::ifstream(WideToUtf8Str(path));
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
        if (!root) {
            // Text that is not well-formed XML is never walked.
            Fail(kLoadError);
            return;
        }
        SmartPtr<SerializedContentElement> top(
            SerializedContentElement::CreateTopElement("figure"));
        XmlParser parser;
        parser.Parse(root, top.get());
        FreeXml(root);
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
