#include "XmlTextReader.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "geometry/XmlElem.h"
#include "utilities/LargeBuffer.h"
#include "utilities/Utf8.h"

namespace {

// Character classes of bytes in XML text.
enum : std::uint8_t {
    kNameStart = 1,  // may begin a name
    kName = 2,       // may continue a name
    kSpace = 4,      // white space: space, tab, LF, CR
    kTextStop = 8,   // ends a plain run of element text: '<', '&', CR
    kValueStop = 16  // ends a plain run of an attribute value: '&', CR, LF, tab, '<', quotes
};

// clang-format off
constexpr std::uint8_t kClass[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 20, 0, 0, 28, 0, 0,        // 0x00: tab, LF, CR
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,           // 0x10
    4, 0, 16, 0, 0, 0, 24, 16, 0, 0, 0, 0, 0, 2, 2, 0,        // 0x20: space " & ' - .
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 0, 24, 0, 0, 0,          // 0x30: digits : <
    0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0x40: A-O
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 0, 0, 0, 3,           // 0x50: P-Z _
    0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0x60: a-o
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0,           // 0x70: p-z
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0x80: bytes of multi-byte
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0x90  UTF-8 characters,
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0xA0  all allowed in names
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0xB0
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0xC0
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0xD0
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0xE0
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,           // 0xF0
};
// clang-format on

bool Is(char c, std::uint8_t classes) {
    return (kClass[static_cast<unsigned char>(c)] & classes) != 0;
}

// "'x'" for a printable byte, "byte 0x1F" otherwise, for messages about it.
std::string Describe(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F)
        return std::string("'") + c + "'";
    static const char digits[] = "0123456789ABCDEF";
    return std::string("byte 0x") + digits[byte >> 4] + digits[byte & 15];
}

// Blocks for the elements and lists of one tree, taken in order and given back all at once.
// Large blocks ask for huge pages: a big document touches memory faster in 2 MiB steps.
class BlockStore {
public:
    BlockStore() = default;
    BlockStore(const BlockStore&) = delete;
    BlockStore& operator=(const BlockStore&) = delete;
    ~BlockStore() {
        for (void* block : blocks_)
            std::free(block);
    }

    void* Allocate(std::size_t size, std::size_t alignment) {
        std::size_t at = (used_ + alignment - 1) & ~(alignment - 1);
        if (at + size > capacity_) {
            NewBlock(size + alignment);
            at = 0;
        }
        used_ = at + size;
        return current_ + at;
    }

    template <class T>
    T* AllocateArray(std::size_t count) {
        return static_cast<T*>(Allocate(sizeof(T) * count, alignof(T)));
    }

private:
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;

    void NewBlock(std::size_t atLeast) {
        // Blocks double from 64 KiB so small documents stay small and big ones take few blocks.
        std::size_t size = std::max<std::size_t>(std::size_t{64} << 10, nextSize_);
        while (size < atLeast)
            size *= 2;
        nextSize_ = std::min<std::size_t>(size * 2, std::size_t{64} << 20);
        void* block = nullptr;
        if (size >= kHugePage) {
            size = (size + kHugePage - 1) & ~(kHugePage - 1);
#if defined(_WIN32)
            // The Windows C runtime has no aligned_alloc whose blocks free() takes, and no
            // transparent huge pages to align for.
            block = std::malloc(size);
#else
            block = std::aligned_alloc(kHugePage, size);
#endif
#if defined(__linux__) && defined(MADV_HUGEPAGE)
            if (block)
                ::madvise(block, size, MADV_HUGEPAGE);
#endif
        } else {
            block = std::malloc(size);
        }
        if (!block)
            throw std::bad_alloc();
        blocks_.push_back(block);
        current_ = static_cast<char*>(block);
        capacity_ = size;
        used_ = 0;
    }

    std::vector<void*> blocks_;
    char* current_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::size_t nextSize_ = 0;
};

// The root of a parsed tree: owns the block store the rest of the tree lives in.
class ParsedRoot final : public XmlElem {
public:
    ParsedRoot(const Symbol& name, std::unique_ptr<BlockStore> store)
        : XmlElem(name), store_(std::move(store)) {}
    ~ParsedRoot() override { ReleaseParsedStorage(); }

private:
    std::unique_ptr<BlockStore> store_;
};

// Element lists count in 32 bits.
constexpr std::size_t kMaxListSize = 0xFFFFFFFFu;

// Thrown inside the parser only; ParseUtf8Xml turns it into the error text.
struct SyntaxError {
    std::size_t offset;
    std::string reason;
};

// Characters a reference may stand for. Control characters other than U+0000 are taken, as
// XML 1.1 takes them, since the writer keeps them in text only as references.
bool IsReferable(std::uint32_t code) {
    return (code >= 0x1 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
           (code >= 0x10000 && code <= 0x10FFFF);
}

}  // namespace

// Builds the tree: one pass over the text with an explicit stack of open elements.
class XmlTreeBuilder {
public:
    XmlTreeBuilder(std::string_view text, bool keepWhitespace)
        : text_(text), keepWhitespace_(keepWhitespace), positions_(text) {}

    ~XmlTreeBuilder() {
        // After a failure, elements not yet handed to their parents are taken apart here.
        for (XmlElem* element : pendingChildren_)
            Destroy(element);
        delete root_;
    }

    XmlElem* Parse() {
        std::size_t at = 0;
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            at = 3;
        at = SkipProlog(at);
        at = ParseRoot(at);
        SkipEpilog(at);
        XmlElem* root = root_;
        root_ = nullptr;
        return root;
    }

    std::pair<std::uint32_t, std::uint32_t> PositionOf(std::size_t offset) {
        return positions_.At(offset);
    }

private:
    struct Open {
        XmlElem* element;
        std::string_view name;   // as written, to match the end tag
        std::size_t firstChild;  // index in pendingChildren_ of its first child
    };

    [[noreturn]] static void Fail(std::size_t offset, std::string reason) {
        throw SyntaxError{offset, std::move(reason)};
    }

    char At(std::size_t at) const { return at < text_.size() ? text_[at] : '\0'; }
    bool StartsWith(std::size_t at, std::string_view prefix) const {
        return text_.substr(std::min(at, text_.size()), prefix.size()) == prefix;
    }
    std::size_t SkipSpace(std::size_t at) const {
        while (at < text_.size() && Is(text_[at], kSpace))
            ++at;
        return at;
    }
    // The offset just past the end marker that closes a construct begun at start.
    std::size_t Through(std::size_t from, std::string_view marker, std::size_t start,
                        const char* what) const {
        const std::size_t end = text_.find(marker, from);
        if (end == std::string_view::npos)
            Fail(start, std::string(what) + " is not closed");
        return end + marker.size();
    }

    // Reads a name at at; fails naming the byte found when there is none.
    std::string_view Name(std::size_t& at, const char* what) const {
        const std::size_t start = at;
        if (at >= text_.size() || !Is(text_[at], kNameStart)) {
            Fail(at, at >= text_.size()
                         ? std::string("end of text where ") + what + " should be"
                         : "expected " + std::string(what) + ", found " + Describe(text_[at]));
        }
        ++at;
        while (at < text_.size() && Is(text_[at], kName))
            ++at;
        return text_.substr(start, at - start);
    }

    // Names repeat throughout a document: each distinct one is interned once per parse.
    const Symbol& Intern(std::string_view name) {
        auto found = symbols_.find(name);
        if (found != symbols_.end())
            return found->second;
        return symbols_.emplace(name, Symbol(name)).first->second;
    }

    // Comments, processing instructions and a document type declaration, as they may stand
    // outside the root element. Gives the offset of the next thing that is none of them.
    std::size_t SkipMisc(std::size_t at, bool beforeRoot) {
        for (;;) {
            const std::size_t next = SkipSpace(at);
            if (StartsWith(next, "<!--")) {
                at = SkipComment(next);
            } else if (StartsWith(next, "<?")) {
                at = SkipInstruction(next);
            } else if (beforeRoot && StartsWith(next, "<!DOCTYPE")) {
                if (sawDoctype_)
                    Fail(next, "a second document type declaration");
                sawDoctype_ = true;
                at = SkipDoctype(next);
            } else {
                return next;
            }
        }
    }

    std::size_t SkipProlog(std::size_t at) {
        if (StartsWith(at, "<?xml") && (Is(At(at + 5), kSpace) || StartsWith(at + 5, "?>")))
            at = Through(at + 5, "?>", at, "the XML declaration");
        at = SkipMisc(at, true);
        if (at >= text_.size())
            Fail(at, "no root element");
        if (text_[at] != '<')
            Fail(at, "text outside the root element");
        if (!Is(At(at + 1), kNameStart))
            Fail(at,
                 "expected the root element, found " + Describe(text_[at]) + Describe(At(at + 1)));
        return at;
    }

    void SkipEpilog(std::size_t at) {
        at = SkipMisc(at, false);
        if (at >= text_.size())
            return;
        if (text_[at] == '<' && Is(At(at + 1), kNameStart))
            Fail(at, "more than one root element");
        if (text_[at] == '<')
            Fail(at, "unexpected markup after the root element");
        Fail(at, "text outside the root element");
    }

    std::size_t SkipComment(std::size_t at) {
        const std::size_t end = text_.find("--", at + 4);
        if (end == std::string_view::npos)
            Fail(at, "comment is not closed");
        if (At(end + 2) != '>')
            Fail(end, "'--' inside a comment");
        return end + 3;
    }

    std::size_t SkipInstruction(std::size_t at) {
        std::size_t name = at + 2;
        const std::string_view target = Name(name, "a processing instruction target");
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
            (target[2] | 0x20) == 'l') {
            Fail(at, "XML declaration not at the start of the text");
        }
        return Through(name, "?>", at, "processing instruction");
    }

    // Skips a document type declaration with its internal subset; nothing in it is used, so no
    // entity it declares is ever expanded.
    std::size_t SkipDoctype(std::size_t at) {
        const std::size_t start = at;
        at += 9;
        int depth = 0;
        while (at < text_.size()) {
            const char c = text_[at];
            if (c == '"' || c == '\'') {
                const std::size_t close = text_.find(c, at + 1);
                if (close == std::string_view::npos)
                    break;
                at = close + 1;
            } else if (StartsWith(at, "<!--")) {
                at = SkipComment(at);
            } else if (c == '[') {
                ++depth, ++at;
            } else if (c == ']') {
                --depth, ++at;
            } else if (c == '>' && depth <= 0) {
                return at + 1;
            } else {
                ++at;
            }
        }
        Fail(start, "document type declaration is not closed");
    }

    // Appends raw character data, its references replaced and its line ends made LF; in
    // attribute values tab, LF and a line end become a space.
    void AppendDecoded(std::string& out, std::size_t from, std::size_t to, bool attribute) {
        const std::uint8_t stops = attribute ? kValueStop : kTextStop;
        if (out.empty())
            ReserveLargeBuffer(out, to - from);
        std::size_t run = from;
        std::size_t at = from;
        while (at < to) {
            const char c = text_[at];
            if (!Is(c, stops)) {
                ++at;
                continue;
            }
            out.append(text_.data() + run, at - run);
            if (c == '\r') {
                out += attribute ? ' ' : '\n';
                at += At(at + 1) == '\n' && at + 1 < to ? 2 : 1;
            } else if (c == '&') {
                at = AppendReference(out, at, to);
            } else if (c == '<') {
                Fail(at, "'<' inside an attribute value");
            } else if (c == '\t' || c == '\n') {
                out += ' ';
                ++at;
            } else {
                out += c;  // the other quote
                ++at;
            }
            run = at;
        }
        out.append(text_.data() + run, to - run);
    }

    // One reference at at ('&'): a character reference or a predefined entity becomes its
    // character; any other entity reference stays as written. Gives the offset after it.
    std::size_t AppendReference(std::string& out, std::size_t at, std::size_t to) {
        // No reference is longer than this, and looking further would make text with many bare
        // '&' cost time quadratic in its length.
        constexpr std::size_t kLongest = 34;
        const std::size_t end = text_.substr(0, std::min(to, at + kLongest)).find(';', at + 1);
        if (end == std::string_view::npos) {
            out += '&';
            return at + 1;
        }
        const std::string_view body = text_.substr(at + 1, end - at - 1);
        if (!body.empty() && body[0] == '#') {
            const bool hex = body.size() > 1 && body[1] == 'x';
            const std::string_view digits = body.substr(hex ? 2 : 1);
            std::uint32_t code = 0;
            bool valid = !digits.empty() && digits.size() <= 8;
            for (char d : digits) {
                int value = -1;
                if (d >= '0' && d <= '9')
                    value = d - '0';
                else if (hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f')
                    value = (d | 0x20) - 'a' + 10;
                if (value < 0) {
                    valid = false;
                    break;
                }
                code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
            }
            if (!valid) {
                out += '&';  // not a reference at all, as a bare '&' is not
                return at + 1;
            }
            if (!IsReferable(code))
                Fail(at, "invalid character reference '&" + std::string(body) + ";'");
            AppendUtf8(out, code);
            return end + 1;
        }
        static constexpr std::pair<std::string_view, char> kPredefined[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
        for (const auto& [name, character] : kPredefined) {
            if (body == name) {
                out += character;
                return end + 1;
            }
        }
        out += '&';
        return at + 1;
    }

    // A new element at at ('<' of its start tag), with its attributes. Sets selfClosed when the
    // tag ends with "/>" and at past the tag.
    XmlElem* StartTag(std::size_t& at, XmlElem* parent, std::string_view& name, bool& selfClosed) {
        const std::size_t start = at;
        ++at;
        name = Name(at, "an element name");
        XmlElem* element;
        if (!parent) {
            root_ = new ParsedRoot(Intern(name), std::move(store_));
            element = root_;
            store_ = nullptr;
        } else {
            element =
                new (store().Allocate(sizeof(XmlElem), alignof(XmlElem))) XmlElem(Intern(name));
            element->inBlockStore_ = true;
            element->parent_ = parent;
            pendingChildren_.push_back(element);
        }
        const auto [line, column] = positions_.At(start);
        element->line_ = line;
        element->column_ = column;

        attributes_.clear();
        for (;;) {
            const std::size_t space = at;
            at = SkipSpace(at);
            const char c = At(at);
            if (c == '>' || (c == '/' && At(at + 1) == '>')) {
                selfClosed = c == '/';
                at += selfClosed ? 2 : 1;
                break;
            }
            if (at >= text_.size())
                Fail(start, "start tag <" + std::string(name) + "> is not closed");
            if (at == space)
                Fail(at, "expected white space, '>' or '/>' in <" + std::string(name) +
                             ">, found " + Describe(c));
            const std::string_view attributeName = Name(at, "an attribute name");
            at = SkipSpace(at);
            if (At(at) != '=')
                Fail(at, "expected '=' after attribute '" + std::string(attributeName) + "'");
            at = SkipSpace(at + 1);
            const char quote = At(at);
            if (quote != '"' && quote != '\'')
                Fail(at,
                     "expected a quoted value for attribute '" + std::string(attributeName) + "'");
            const std::size_t close = text_.find(quote, at + 1);
            if (close == std::string_view::npos)
                Fail(at, "value of attribute '" + std::string(attributeName) + "' is not closed");
            if (IsRepeated(attributeName))
                Fail(start, "attribute '" + std::string(attributeName) + "' repeated");
            attributes_.emplace_back(attributeName, std::string());
            AppendDecoded(attributes_.back().second, at + 1, close, true);
            at = close + 1;
        }
        if (attributes_.size() > kMaxListSize)
            Fail(start, "a start tag with more than 4294967295 attributes");
        if (!attributes_.empty()) {
            using Attribute = std::pair<Symbol, std::string>;
            Attribute* list = store().AllocateArray<Attribute>(attributes_.size());
            for (std::size_t i = 0; i < attributes_.size(); ++i)
                new (list + i)
                    Attribute(Intern(attributes_[i].first), std::move(attributes_[i].second));
            element->attributes_.Adopt(list, static_cast<std::uint32_t>(attributes_.size()));
        }
        return element;
    }

    // Whether the start tag being read already has an attribute called name. Tags with many
    // attributes are checked through a set, so no tag costs time quadratic in its length.
    bool IsRepeated(std::string_view name) {
        constexpr std::size_t kScan = 16;
        if (attributes_.size() < kScan) {
            for (const auto& attribute : attributes_) {
                if (attribute.first == name)
                    return true;
            }
            return false;
        }
        if (attributes_.size() == kScan) {
            attributeNames_.clear();
            for (const auto& attribute : attributes_)
                attributeNames_.insert(attribute.first);
        }
        return !attributeNames_.insert(name).second;
    }

    // Gives the element the children made since it opened.
    void Close(const Open& open, std::size_t at) {
        const std::size_t count = pendingChildren_.size() - open.firstChild;
        if (count == 0)
            return;
        if (count > kMaxListSize)
            Fail(at, "<" + std::string(open.name) + "> has more than 4294967295 children");
        XmlElem** list = store().AllocateArray<XmlElem*>(count);
        std::copy(pendingChildren_.begin() + static_cast<std::ptrdiff_t>(open.firstChild),
                  pendingChildren_.end(), list);
        pendingChildren_.resize(open.firstChild);
        open.element->children_.Adopt(list, static_cast<std::uint32_t>(count));
    }

    std::size_t ParseRoot(std::size_t at) {
        store_ = std::make_unique<BlockStore>();
        storeRaw_ = store_.get();
        std::vector<Open> open;
        std::string_view name;
        bool selfClosed = false;
        XmlElem* root = StartTag(at, nullptr, name, selfClosed);
        if (selfClosed)
            return at;
        open.push_back({root, name, pendingChildren_.size()});
        while (!open.empty()) {
            XmlElem* element = open.back().element;
            // Character data up to the next markup.
            const std::size_t textStart = at;
            const void* lt = std::memchr(text_.data() + at, '<', text_.size() - at);
            const std::size_t textEnd =
                lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - text_.data())
                   : text_.size();
            if (textEnd > textStart) {
                bool blank = !keepWhitespace_;
                for (std::size_t i = textStart; blank && i < textEnd; ++i)
                    blank = Is(text_[i], kSpace);
                if (!blank)
                    AppendDecoded(element->text_, textStart, textEnd, false);
            }
            at = textEnd;
            if (at >= text_.size())
                Fail(at, "end of text inside <" + std::string(open.back().name) + ">, opened at " +
                             Where(open.back().element));
            const char next = At(at + 1);
            if (next == '/') {
                std::size_t after = at + 2;
                const std::string_view closing = Name(after, "an end tag name");
                if (closing != open.back().name)
                    Fail(at, "end tag </" + std::string(closing) + "> does not match <" +
                                 std::string(open.back().name) + "> opened at " + Where(element));
                after = SkipSpace(after);
                if (At(after) != '>')
                    Fail(after, "expected '>' to end </" + std::string(closing) + ">");
                Close(open.back(), at);
                at = after + 1;
                open.pop_back();
            } else if (next == '!') {
                if (StartsWith(at, "<!--")) {
                    at = SkipComment(at);
                } else if (StartsWith(at, "<![CDATA[")) {
                    const std::size_t end = Through(at + 9, "]]>", at, "CDATA section");
                    AppendCdata(element->text_, at + 9, end - 3);
                    at = end;
                } else {
                    Fail(at, "unexpected '<!' inside <" + std::string(open.back().name) + ">");
                }
            } else if (next == '?') {
                at = SkipInstruction(at);
            } else if (Is(next, kNameStart)) {
                XmlElem* child = StartTag(at, element, name, selfClosed);
                if (!selfClosed)
                    open.push_back({child, name, pendingChildren_.size()});
            } else {
                Fail(at + 1, "expected a name, '/', '!' or '?' after '<', found " + Describe(next));
            }
        }
        return at;
    }

    // CDATA keeps its characters as written, line ends aside.
    void AppendCdata(std::string& out, std::size_t from, std::size_t to) {
        std::size_t run = from;
        for (;;) {
            const void* cr = std::memchr(text_.data() + run, '\r', to - run);
            if (!cr)
                break;
            const auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - text_.data());
            out.append(text_.data() + run, at - run);
            out += '\n';
            run = at + (at + 1 < to && text_[at + 1] == '\n' ? 2 : 1);
        }
        out.append(text_.data() + run, to - run);
    }

    std::string Where(const XmlElem* element) const {
        return std::to_string(element->line_) + ":" + std::to_string(element->column_);
    }

    BlockStore& store() { return *storeRaw_; }

    static void Destroy(XmlElem* element) {
        element->DestroySubtree();
        element->~XmlElem();
    }

    std::string_view text_;
    bool keepWhitespace_;
    bool sawDoctype_ = false;
    PositionCounter positions_;
    std::unique_ptr<BlockStore> store_;  // until the root takes it
    BlockStore* storeRaw_ = nullptr;
    XmlElem* root_ = nullptr;
    std::vector<XmlElem*> pendingChildren_;  // made, not yet given to their parents
    std::vector<std::pair<std::string_view, std::string>> attributes_;
    std::unordered_set<std::string_view> attributeNames_;
    std::unordered_map<std::string_view, Symbol> symbols_;
};

bool IsUtf8Xml(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        return true;
    // A byte order mark of UTF-16 or UTF-32, or the zero bytes of '<' in them.
    if (text.size() >= 2 &&
        (static_cast<unsigned char>(text[0]) >= 0xFE || text[0] == '\0' || text[1] == '\0')) {
        return false;
    }
    if (text.substr(0, 5) != "<?xml")
        return true;
    const std::size_t end = text.find("?>");
    const std::string_view declaration = text.substr(0, end);
    const std::size_t encoding = declaration.find("encoding");
    if (encoding == std::string_view::npos)
        return true;
    std::size_t quote = declaration.find_first_of("\"'", encoding);
    if (quote == std::string_view::npos)
        return true;
    const std::size_t close = declaration.find(declaration[quote], quote + 1);
    std::string name(declaration.substr(quote + 1, close - quote - 1));
    for (char& c : name)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii";
}

XmlElem* ParseUtf8Xml(std::string_view text, bool keepWhitespace, std::string* error) {
    XmlTreeBuilder builder(text, keepWhitespace);
    try {
        return builder.Parse();
    } catch (const SyntaxError& failure) {
        if (error) {
            const auto [line, column] = builder.PositionOf(failure.offset);
            *error = std::to_string(line) + ":" + std::to_string(column) + ": " + failure.reason;
        }
        return nullptr;
    }
}
