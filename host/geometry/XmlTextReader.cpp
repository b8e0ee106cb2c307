#include "XmlTextReader.h"

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geometry/XmlElem.h"
#include "utilities/LargeBuffer.h"
#include "utilities/Utf8.h"

namespace {

// Classes of ASCII bytes; bytes from 0x80 on belong to no class and are decoded where they stand.
enum : std::uint8_t {
    kNameStart = 1,    // may begin a name
    kName = 2,         // may continue a name
    kSpace = 4,        // white space: space, tab, LF, CR
    kPubid = 8,        // may stand in a public identifier
    kTextStop = 16,    // ends a plain run of element text: '<', '&', ']', CR, controls
    kValueStop = 32,   // ends a plain run of an attribute value: '<', '&', tab, LF, CR, controls
    kEntityStop = 64,  // ends a plain run of an entity value: '%', '&', CR, controls
    kCharStop = 128    // ends a plain run of comments, PIs and CDATA: CR, controls
};

constexpr std::array<std::uint8_t, 256> MakeClasses() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 0x20; ++c)
        classes[c] = kTextStop | kValueStop | kEntityStop | kCharStop;
    for (int c : {'\t', '\n'}) {
        classes[c] = kSpace | kValueStop;
    }
    classes['\r'] = kSpace | kTextStop | kValueStop | kEntityStop | kCharStop | kPubid;
    classes['\n'] |= kPubid;
    classes[' '] = kSpace | kPubid;
    for (int c = 0x80; c < 0x100; ++c)
        classes[c] = kTextStop | kValueStop | kEntityStop | kCharStop;
    for (int c = 'a'; c <= 'z'; ++c)
        classes[c] = kNameStart | kName | kPubid;
    for (int c = 'A'; c <= 'Z'; ++c)
        classes[c] = kNameStart | kName | kPubid;
    for (int c = '0'; c <= '9'; ++c)
        classes[c] = kName | kPubid;
    classes['_'] = kNameStart | kName | kPubid;
    classes[':'] = kNameStart | kName | kPubid;
    classes['-'] = kName | kPubid;
    classes['.'] = kName | kPubid;
    for (char c : std::string_view("'()+,/=?;!*#@$%"))
        classes[static_cast<unsigned char>(c)] |= kPubid;
    classes['<'] |= kTextStop | kValueStop;
    classes['&'] |= kTextStop | kValueStop | kEntityStop;
    classes[']'] |= kTextStop;
    classes['%'] |= kEntityStop;
    return classes;
}

constexpr std::array<std::uint8_t, 256> kClass = MakeClasses();

bool Is(char c, std::uint8_t classes) {
    return (kClass[static_cast<unsigned char>(c)] & classes) != 0;
}

// The character of the UTF-8 sequence at p, of which available bytes are there, and its length;
// length 0 when the bytes are not UTF-8 (overlong forms and surrogates included).
std::uint32_t DecodeUtf8(const unsigned char* p, std::size_t available, std::size_t& length) {
    const std::uint32_t b = p[0];
    length = 0;
    if (b < 0x80) {
        length = 1;
        return b;
    }
    auto trail = [&](std::size_t i) { return i < available && (p[i] & 0xC0) == 0x80; };
    if (b < 0xC2)
        return 0;
    if (b < 0xE0) {
        if (!trail(1))
            return 0;
        length = 2;
        return ((b & 0x1F) << 6) | (p[1] & 0x3Fu);
    }
    if (b < 0xF0) {
        if (!trail(1) || !trail(2))
            return 0;
        const std::uint32_t code = ((b & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
        if (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))
            return 0;
        length = 3;
        return code;
    }
    if (b < 0xF5) {
        if (!trail(1) || !trail(2) || !trail(3))
            return 0;
        const std::uint32_t code =
            ((b & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
        if (code < 0x10000 || code > 0x10FFFF)
            return 0;
        length = 4;
        return code;
    }
    return 0;
}

// The characters XML 1.0 can carry, as text or through a reference.
bool IsXmlChar(std::uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// Name characters beyond ASCII.
bool IsNameStartCode(std::uint32_t c) {
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameCode(std::uint32_t c) {
    return IsNameStartCode(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
           (c >= 0x203F && c <= 0x2040);
}

std::string Hex(std::uint32_t code, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += kDigits[(code >> shift) & 15];
    return out;
}

std::string CodePoint(std::uint32_t code) {
    return "U+" + Hex(code, code > 0xFFFF ? 6 : 4);
}

// Why a character that is not an XML character may not stand in a document.
std::string NotAChar(std::uint32_t code) {
    if (code < 0x20)
        return "control character " + CodePoint(code) + " is not allowed in XML 1.0";
    return "character " + CodePoint(code) + " is not allowed in XML";
}

bool IsPredefined(std::string_view name, char& character) {
    static constexpr std::pair<std::string_view, char> kPredefined[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    for (const auto& [predefined, c] : kPredefined) {
        if (name == predefined) {
            character = c;
            return true;
        }
    }
    return false;
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
        // Blocks double from 64 KiB, so small documents stay small, up to one huge page. Blocks of
        // one size are reused by the allocator from one load to the next; larger ones of mixed
        // sizes left holes that the next load could not fill, growing the heap with fresh pages.
        std::size_t size = std::max<std::size_t>(std::size_t{64} << 10, nextSize_);
        while (size < atLeast)
            size *= 2;
        nextSize_ = std::min<std::size_t>(size * 2, kHugePage);
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

// The Symbols of the names in one document. A document uses few distinct names, each thousands
// of times, so a lookup is a hash of a few words of the name, one slot and one comparison. The
// hash is seeded from where the table lives, so that a document cannot be made to collide.
class NameTable {
public:
    NameTable() : seed_(reinterpret_cast<std::uintptr_t>(this) * 0x9E3779B97F4A7C15ull) {}

    const Symbol& Intern(std::string_view name) {
        // Most names come again soon (the same element and attribute names over and over): a
        // few recent ones are tried first, by their size and first and last bytes.
        if (name.empty())
            return Lookup(name);
        const auto first = static_cast<unsigned char>(name.front());
        const auto last = static_cast<unsigned char>(name.back());
        Slot& recent = recent_[(name.size() * 7 + first + last * 3) % kRecent];
        if (recent.size == name.size() && std::memcmp(recent.data, name.data(), name.size()) == 0)
            return *recent.symbol;
        const Symbol& symbol = Lookup(name);
        recent = {0, symbol.safe_c_str(), name.size(), &symbol};
        return symbol;
    }

private:
    static constexpr std::size_t kRecent = 16;

    const Symbol& Lookup(std::string_view name) {
        const std::uint64_t hash = Hash(name);
        if (slots_.empty())
            slots_.resize(64);
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (!slot.symbol)
                break;
            if (slot.hash == hash && slot.size == name.size() &&
                std::memcmp(slot.data, name.data(), name.size()) == 0)
                return *slot.symbol;
        }
        symbols_.push_back(std::make_unique<Symbol>(name));
        if (2 * symbols_.size() > slots_.size()) {
            std::vector<Slot> old(2 * slots_.size());
            old.swap(slots_);
            for (const Slot& slot : old) {
                if (slot.symbol)
                    Place(slot);
            }
        }
        const Symbol& symbol = *symbols_.back();
        Place({hash, symbol.safe_c_str(), name.size(), &symbol});
        return symbol;
    }

    struct Slot {
        std::uint64_t hash = 0;
        const char* data = nullptr;  // the Symbol's own bytes
        std::size_t size = 0;
        const Symbol* symbol = nullptr;
    };

    std::uint64_t Hash(std::string_view name) const noexcept {
        std::uint64_t hash = seed_ ^ name.size();
        const char* at = name.data();
        std::size_t left = name.size();
        for (; left >= 8; at += 8, left -= 8) {
            std::uint64_t word;
            std::memcpy(&word, at, 8);
            hash = Mix(hash ^ word);
        }
        if (left != 0) {
            std::uint64_t word = 0;
            std::memcpy(&word, at, left);
            hash = Mix(hash ^ word);
        }
        return hash ^ (hash >> 32);
    }
    static std::uint64_t Mix(std::uint64_t value) noexcept {
        value *= 0xBF58476D1CE4E5B9ull;
        return value ^ (value >> 31);
    }
    void Place(const Slot& slot) noexcept {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = slot.hash & mask;
        while (slots_[i].symbol)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }

    std::uint64_t seed_;
    Slot recent_[kRecent];
    std::vector<Slot> slots_;  // a power of two in size, at most half full
    std::vector<std::unique_ptr<Symbol>> symbols_;
};

// The root of a parsed tree: owns the block store the rest of the tree lives in, and the Symbols
// of the names its elements hold as loans.
class ParsedRoot final : public XmlElem {
public:
    ParsedRoot(const Symbol& name, std::unique_ptr<BlockStore> store,
               std::unique_ptr<NameTable> names)
        : XmlElem(name), store_(std::move(store)), names_(std::move(names)) {}
    ~ParsedRoot() override { ReleaseParsedStorage(); }

private:
    std::unique_ptr<BlockStore> store_;
    std::unique_ptr<NameTable> names_;
};

// Element texts up to this many bytes are kept in the tree's blocks; longer ones (payloads)
// become strings at once, as GetText would make them.
constexpr std::size_t kStoredTextLimit = 256;

// Element lists count in 32 bits.
constexpr std::size_t kMaxListSize = 0xFFFFFFFFu;

// Thrown inside the parser only; ParseUtf8Xml turns it into the result.
struct SyntaxError {
    std::size_t offset;
    std::string reason;
    XmlParseStatus status = XmlParseStatus::NotWellFormed;
};

// An entity declared in the internal subset.
struct Entity {
    std::string_view name;
    std::string text;  // replacement text of an internal entity
    bool parameter = false;
    bool external = false;
    bool unparsed = false;  // NDATA
    bool open = false;      // being expanded: a reference to it now would be recursion
};

// An attribute declared in a processed attribute-list declaration.
struct AttributeDecl {
    std::string_view name;
    bool tokenized = false;  // a type other than CDATA: blanks are collapsed too
    bool hasDefault = false;
    std::string value;       // the default, normalised
    std::uint64_t seen = 0;  // the start tag that last wrote it
};

struct ElementDecls {
    std::vector<AttributeDecl> attributes;
    std::unordered_map<std::string_view, std::size_t> index;
    std::vector<std::size_t> defaults;  // attributes with a default value
};

// Collapses runs of spaces and drops leading and trailing ones, for tokenized attribute types.
void CollapseSpaces(std::string& value) {
    std::size_t out = 0;
    bool pending = false;
    for (char c : value) {
        if (c == ' ') {
            pending = out != 0;
            continue;
        }
        if (pending)
            value[out++] = ' ';
        pending = false;
        value[out++] = c;
    }
    value.resize(out);
}

}  // namespace

// The text of an open element as it is read: while it is one run of the text being read, only
// where that run lies, so that it is copied once, into its place in the tree; otherwise (line
// ends, references, CDATA, text on both sides of a child) gathered in a buffer.
class TextSink {
public:
    void Append(const char* data, std::size_t size) {
        if (size == 0)
            return;
        if (!buffer_) {
            if (size_ == 0) {
                data_ = data;
                size_ = size;
                return;
            }
            if (data == data_ + size_) {
                size_ += size;
                return;
            }
            Buffer();
        }
        buffer_->append(data, size);
    }
    std::string& Buffer() {
        if (!buffer_) {
            buffer_ = std::make_unique<std::string>();
            if (size_ > 64)
                ReserveLargeBuffer(*buffer_, size_);
            buffer_->assign(data_, size_);
        }
        return *buffer_;
    }
    std::string_view View() const noexcept {
        return buffer_ ? std::string_view(*buffer_) : std::string_view(data_, size_);
    }
    // The text as a string: the buffer itself when there is one.
    std::string Take() {
        if (buffer_)
            return std::move(*buffer_);
        std::string text;
        ReserveLargeBuffer(text, size_);  // payloads run to megabytes
        text.assign(data_, size_);
        return text;
    }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    std::unique_ptr<std::string> buffer_;  // only once the text is no longer one run
};

// Builds the tree: one pass over the text with an explicit stack of open elements. Entity
// replacement text is read in place of the reference, by switching the text being read.
class XmlTreeBuilder {
public:
    XmlTreeBuilder(std::string_view text, bool keepWhitespace, XmlEncoding encoding)
        : doc_(text),
          text_(text),
          keepWhitespace_(keepWhitespace),
          encoding_(encoding),
          positions_(text) {}

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
        start_ = at;
        at = Prolog(at);
        at = ParseRoot(at);
        Epilog(at);
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
        TextSink text = {};
    };

    // An entity being read in place of its reference.
    struct Frame {
        Entity* entity;
        std::string_view outer;    // the text the reference stands in
        std::size_t resume;        // offset in outer after the reference
        std::size_t outerEnd;      // where reading in outer was to stop
        std::size_t reference;     // document offset of the outermost reference
        std::size_t openElements;  // elements open when the entity began
    };

    // Errors inside replacement text are reported at the reference in the document.
    [[noreturn]] void Fail(std::size_t offset, std::string reason,
                           XmlParseStatus status = XmlParseStatus::NotWellFormed) const {
        if (!frames_.empty()) {
            const Entity& entity = *frames_.back().entity;
            reason += std::string(" (in the replacement text of entity '") +
                      (entity.parameter ? "%" : "") + std::string(entity.name) + "')";
            offset = frames_.front().reference;
        }
        throw SyntaxError{offset, std::move(reason), status};
    }

    // The offset in the document of an offset in the text being read.
    std::size_t DocumentOffset(std::size_t at) const {
        return frames_.empty() ? at : frames_.front().reference;
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
    void RequireSpace(std::size_t& at, const std::string& where) const {
        if (!Is(At(at), kSpace))
            Fail(at, "expected white space " + where + ", found " + Describe(at));
        at = SkipSpace(at);
    }
    void Expect(std::size_t& at, char c, const std::string& what) const {
        if (At(at) != c)
            Fail(at, "expected '" + std::string(1, c) + "' " + what + ", found " + Describe(at));
        ++at;
    }

    // What stands at at, for messages: "'x'", "byte 0x1F", "'é' (U+00E9)", "end of text".
    std::string Describe(std::size_t at) const {
        if (at >= text_.size())
            return "end of text";
        const auto byte = static_cast<unsigned char>(text_[at]);
        if (byte == '%' && inSubset_)
            return "'%' (the internal subset takes parameter entity references only between "
                   "declarations)";
        if (byte >= 0x20 && byte < 0x7F)
            return std::string("'") + text_[at] + "'";
        if (byte < 0x80)
            return "byte 0x" + Hex(byte, 2);
        std::size_t length = 0;
        const std::uint32_t code = DecodeUtf8(
            reinterpret_cast<const unsigned char*>(text_.data()) + at, text_.size() - at, length);
        if (length == 0)
            return "byte 0x" + Hex(byte, 2) + ", which is not UTF-8";
        return "'" + std::string(text_.substr(at, length)) + "' (" + CodePoint(code) + ")";
    }

    // Checks the character of the multi-byte sequence at at; gives the offset after it.
    std::size_t SkipUtf8(std::size_t at) const {
        std::size_t length = 0;
        const std::uint32_t code = DecodeUtf8(
            reinterpret_cast<const unsigned char*>(text_.data()) + at, text_.size() - at, length);
        if (length == 0)
            Fail(at,
                 "byte 0x" + Hex(static_cast<unsigned char>(text_[at]), 2) + " is not UTF-8 here");
        if (!IsXmlChar(code))
            Fail(at, NotAChar(code));
        return at + length;
    }

    // The name character at at, when there is one: its length, else 0.
    std::size_t NameCharAt(std::size_t at, bool first) const {
        if (at >= text_.size())
            return 0;
        const char c = text_[at];
        if (static_cast<unsigned char>(c) < 0x80)
            return Is(c, first ? kNameStart : kName) ? 1 : 0;
        std::size_t length = 0;
        const std::uint32_t code = DecodeUtf8(
            reinterpret_cast<const unsigned char*>(text_.data()) + at, text_.size() - at, length);
        if (length == 0 || !(first ? IsNameStartCode(code) : IsNameCode(code)))
            return 0;
        return length;
    }

    // Reads a name at at (a name token, with first false); fails naming what stands there when
    // there is none.
    std::string_view Name(std::size_t& at, const char* what, bool first = true) const {
        const std::size_t start = at;
        const std::size_t length = NameCharAt(at, first);
        if (length == 0) {
            Fail(at, at >= text_.size()
                         ? std::string("end of text where ") + what + " should be"
                         : "expected " + std::string(what) + ", found " + Describe(at));
        }
        at += length;
        const auto* bytes = reinterpret_cast<const unsigned char*>(text_.data());
        const std::size_t size = text_.size();
        for (;;) {
            while (at + 4 <= size && (kClass[bytes[at]] & kClass[bytes[at + 1]] &
                                      kClass[bytes[at + 2]] & kClass[bytes[at + 3]] & kName))
                at += 4;
            while (at < size && Is(text_[at], kName))
                ++at;
            if (at >= text_.size() || static_cast<unsigned char>(text_[at]) < 0x80)
                break;
            const std::size_t more = NameCharAt(at, false);
            if (more == 0)
                break;
            at += more;
        }
        return text_.substr(start, at - start);
    }

    // Names repeat throughout a document: each distinct one is interned once per parse.
    const Symbol& Intern(std::string_view name) { return namesRaw_->Intern(name); }

    // ---- plain runs ----

    // The first offset from at, before end, whose byte is of class stop. With SSE2, 16 bytes at a
    // time: bytes below the space and (compared signed) from 0x80 on always stop a run, and so do
    // the bytes listed, which must be the other members of the class.
    template <std::uint8_t stop, char... also>
    std::size_t SkipPlain(std::size_t at, std::size_t end) const {
        const auto* p = reinterpret_cast<const unsigned char*>(text_.data());
#if defined(__SSE2__)
        const __m128i space = _mm_set1_epi8(0x20);
        while (at + 16 <= end) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
            __m128i stops = _mm_cmplt_epi8(v, space);
            ((stops = _mm_or_si128(stops, _mm_cmpeq_epi8(v, _mm_set1_epi8(also)))), ...);
            const int mask = _mm_movemask_epi8(stops);
            if (mask != 0)
                return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
            at += 16;
        }
#endif
        while (at < end && !(kClass[p[at]] & stop))
            ++at;
        return at;
    }
    // Plain runs of element text, of attribute values, and of comments, processing instructions
    // and CDATA (which only need their characters checked).
    std::size_t SkipPlainText(std::size_t at, std::size_t end) const {
        return SkipPlain<kTextStop, '<', '&', ']'>(at, end);
    }
    std::size_t SkipPlainValue(std::size_t at, std::size_t end) const {
        return SkipPlain<kValueStop, '<', '&'>(at, end);
    }
    std::size_t SkipPlainChars(std::size_t at, std::size_t end) const {
        return SkipPlain<kCharStop>(at, end);
    }

    // Appends text_[run, at) and the line feed that the line end at at (CR or CR LF) stands for;
    // gives where reading goes on.
    std::size_t AppendLineEnd(std::string& out, std::size_t run, std::size_t at,
                              std::size_t to) const {
        Append(out, run, at);
        out += '\n';
        return at + (at + 1 < to && text_[at + 1] == '\n' ? 2 : 1);
    }

    // Checks that text_[from, to) holds only XML characters. With out, appends them too, line
    // ends made LF (CDATA).
    void CheckChars(std::size_t from, std::size_t to, std::string* out) const {
        std::size_t at = from;
        std::size_t run = from;
        while (true) {
            at = SkipPlainChars(at, to);
            if (at >= to)
                break;
            const auto c = static_cast<unsigned char>(text_[at]);
            if (c == '\t' || c == '\n') {
                ++at;
            } else if (c == '\r') {
                if (out && frames_.empty()) {
                    at = run = AppendLineEnd(*out, run, at, to);
                } else {
                    ++at;
                }
            } else if (c >= 0x80) {
                at = SkipUtf8(at);
            } else {
                Fail(at, NotAChar(c));
            }
        }
        if (out)
            out->append(text_.data() + run, to - run);
    }

    // ---- entities ----

    // Whether a reference to an entity that is not declared is an error of the document: when
    // every declaration that could hold it has been read, or the document says it stands alone.
    bool MustBeDeclared() const {
        return standalone_ || (!hasExternalSubset_ && !sawParameterReference_);
    }

    // Counts replacement text and supplied defaults against the budget, which stops documents
    // that would grow without end ("billion laughs") early and with a reason. Gives false when
    // the budget is spent.
    bool Charge(std::size_t bytes) {
        expanded_ += bytes;
        return expanded_ <= kEntityBudgetFloor || expanded_ / kEntityBudgetFactor <= doc_.size();
    }

    // The budget's refusal names what the document asked for, where it asked.
    [[noreturn]] void FailBudget(std::size_t at, const std::string& what) const {
        throw SyntaxError{DocumentOffset(at),
                          what + " passes the entity budget (more than " +
                              std::to_string(kEntityBudgetFloor >> 20) + " MiB, and " +
                              std::to_string(kEntityBudgetFactor) + " times the " +
                              std::to_string(doc_.size()) + " bytes of the document)",
                          XmlParseStatus::EntityBudget};
    }

    // Starts reading entity in place of its reference text_[at, resume); gives the offset to
    // read from next (0, in the replacement text).
    std::size_t Enter(Entity& entity, std::size_t at, std::size_t resume, std::size_t end,
                      std::size_t openElements) {
        if (entity.open)
            Fail(at, "entity '" + std::string(entity.parameter ? "%" : "") +
                         std::string(entity.name) + "' refers to itself");
        if (!Charge(entity.text.size() + 1)) {
            const Entity& outermost = frames_.empty() ? entity : *frames_.front().entity;
            FailBudget(at, std::string("expanding entity '") + (outermost.parameter ? "%" : "") +
                               std::string(outermost.name) + "'");
        }
        frames_.push_back({&entity, text_, resume, end, DocumentOffset(at), openElements});
        entity.open = true;
        text_ = entity.text;
        return 0;
    }

    // Goes back to the text an entity's reference stands in; gives the offset after it.
    std::size_t Leave(std::size_t* end = nullptr) {
        const Frame frame = frames_.back();
        frames_.pop_back();
        frame.entity->open = false;
        text_ = frame.outer;
        if (end)
            *end = frame.outerEnd;
        return frame.resume;
    }

    // A character reference at at ('&#'): its character, and at moved past it.
    std::uint32_t CharReference(std::size_t& at) const {
        const std::size_t start = at;
        std::size_t p = at + 2;
        const bool hex = At(p) == 'x';
        if (hex)
            ++p;
        std::uint32_t code = 0;
        const std::size_t digits = p;
        while (p < text_.size()) {
            const char d = text_[p];
            int value = -1;
            if (d >= '0' && d <= '9')
                value = d - '0';
            else if (hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f')
                value = (d | 0x20) - 'a' + 10;
            if (value < 0)
                break;
            code = std::min<std::uint32_t>(
                code * (hex ? 16 : 10) + static_cast<std::uint32_t>(value), 0x7FFFFFFF);
            ++p;
        }
        if (p == digits)
            Fail(start, std::string("expected ") + (hex ? "hexadecimal " : "") +
                            "digits in the character reference, found " + Describe(p));
        if (At(p) != ';')
            Fail(start, "expected ';' to end the character reference, found " + Describe(p));
        if (!IsXmlChar(code)) {
            Fail(start, "invalid character reference '" +
                            std::string(text_.substr(start, p + 1 - start)) +
                            "': " + (code > 0x10FFFF ? "past U+10FFFF" : NotAChar(code)));
        }
        at = p + 1;
        return code;
    }

    // The name of an entity reference at at ('&'), with at moved past its ';'.
    std::string_view EntityName(std::size_t& at) const {
        const std::size_t start = at;
        std::size_t p = at + 1;
        if (NameCharAt(p, true) == 0)
            Fail(start,
                 "'&' must begin a reference such as '&amp;', found " + Describe(p) + " after it");
        const std::string_view name = Name(p, "an entity name");
        if (At(p) != ';')
            Fail(start, "expected ';' to end the reference '&" + std::string(name) + "', found " +
                            Describe(p));
        at = p + 1;
        return name;
    }

    // The declared general entity name, referred to at at; fails when it is not declared.
    Entity& General(std::string_view name, std::size_t at) {
        auto found = general_.find(name);
        if (found != general_.end())
            return found->second;
        if (MustBeDeclared())
            Fail(at, "entity '" + std::string(name) + "' is not declared");
        Fail(at,
             "entity '" + std::string(name) +
                 "' is not declared in the document; the declarations outside it that may "
                 "declare it are not read",
             XmlParseStatus::ExternalEntity);
    }

    // ---- prolog and epilog ----

    std::size_t Prolog(std::size_t at) {
        if (StartsWith(at, "<?xml") && Is(At(at + 5), kSpace))
            at = XmlDeclaration(at);
        at = SkipMisc(at, true);
        if (at >= text_.size())
            Fail(at, "no root element");
        if (text_[at] != '<')
            Fail(at, "text outside the root element");
        if (NameCharAt(at + 1, true) == 0)
            Fail(at, "expected the root element, found " + Describe(at) + Describe(at + 1));
        return at;
    }

    void Epilog(std::size_t at) {
        at = SkipMisc(at, false);
        if (at >= text_.size())
            return;
        if (text_[at] == '<' && NameCharAt(at + 1, true) != 0)
            Fail(at, "more than one root element");
        if (text_[at] == '<')
            Fail(at, "unexpected markup after the root element");
        Fail(at, "text outside the root element");
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
                at = Doctype(next);
            } else {
                return next;
            }
        }
    }

    // '=' with optional white space around it.
    std::size_t Equals(std::size_t at, const char* name) const {
        at = SkipSpace(at);
        Expect(at, '=', std::string("after '") + name + "'");
        return SkipSpace(at);
    }

    // A quoted value at at; at moves past the closing quote.
    std::string_view Quoted(std::size_t& at, const char* what) const {
        const char quote = At(at);
        if (quote != '"' && quote != '\'')
            Fail(at, std::string("expected a quoted ") + what + ", found " + Describe(at));
        const std::size_t close = text_.find(quote, at + 1);
        if (close == std::string_view::npos)
            Fail(at, std::string(what) + " is not closed");
        const std::string_view value = text_.substr(at + 1, close - at - 1);
        at = close + 1;
        return value;
    }

    // <?xml version="1.x" encoding="..." standalone="yes|no"?>, in that order.
    std::size_t XmlDeclaration(std::size_t at) {
        at = SkipSpace(at + 5);
        if (!StartsWith(at, "version"))
            Fail(at, "expected 'version' in the XML declaration, found " + Describe(at));
        at = Equals(at + 7, "version");
        const std::size_t versionAt = at + 1;
        const std::string_view version = Quoted(at, "version");
        bool digits = version.size() > 2 && version.substr(0, 2) == "1.";
        for (std::size_t i = 2; digits && i < version.size(); ++i)
            digits = version[i] >= '0' && version[i] <= '9';
        if (!digits)
            Fail(versionAt, "version '" + std::string(version) + "' is not an XML 1.x version");
        std::size_t next = SkipSpace(at);
        if (next > at && StartsWith(next, "encoding")) {
            at = Equals(next + 8, "encoding");
            const std::size_t nameAt = at + 1;
            const std::string_view name = Quoted(at, "encoding name");
            bool valid = !name.empty() && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z');
            for (std::size_t i = 1; valid && i < name.size(); ++i) {
                const char c = name[i];
                valid = ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '_' || c == '-';
            }
            if (!valid)
                Fail(nameAt, "'" + std::string(name) + "' is not an encoding name");
            if (!EncodingNameFits(name, encoding_))
                Fail(nameAt, EncodingMismatch(name, encoding_), XmlParseStatus::BadEncoding);
            next = SkipSpace(at);
        }
        if (next > at && StartsWith(next, "standalone")) {
            at = Equals(next + 10, "standalone");
            const std::size_t valueAt = at + 1;
            const std::string_view value = Quoted(at, "standalone value");
            if (value != "yes" && value != "no")
                Fail(valueAt, "standalone must be 'yes' or 'no', not '" + std::string(value) + "'");
            standalone_ = value == "yes";
            next = SkipSpace(at);
        }
        if (!StartsWith(next, "?>")) {
            Fail(next, next > at
                           ? "expected 'encoding', 'standalone' or '?>' in the XML "
                             "declaration, found " +
                                 Describe(next)
                           : "expected '?>' to end the XML declaration, found " + Describe(next));
        }
        return next + 2;
    }

    std::size_t SkipComment(std::size_t at) {
        const std::size_t end = text_.find("--", at + 4);
        if (end == std::string_view::npos)
            Fail(at, "comment is not closed");
        if (At(end + 2) != '>')
            Fail(end, "'--' inside a comment");
        CheckChars(at + 4, end, nullptr);
        return end + 3;
    }

    std::size_t SkipInstruction(std::size_t at) {
        std::size_t name = at + 2;
        const std::string_view target = Name(name, "a processing instruction target");
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
            (target[2] | 0x20) == 'l') {
            if (target == "xml" && (at != start_ || !frames_.empty() || root_))
                Fail(at, "XML declaration not at the start of the text");
            Fail(at, "processing instruction target '" + std::string(target) + "' is reserved");
        }
        if (StartsWith(name, "?>"))
            return name + 2;
        if (!Is(At(name), kSpace))
            Fail(name,
                 "expected white space or '?>' after the processing instruction target, "
                 "found " +
                     Describe(name));
        const std::size_t end = text_.find("?>", name);
        if (end == std::string_view::npos)
            Fail(at, "processing instruction is not closed");
        CheckChars(name, end, nullptr);
        return end + 2;
    }

    // ---- document type declaration ----

    std::size_t Doctype(std::size_t at) {
        const std::size_t start = at;
        at += 9;
        RequireSpace(at, "after '<!DOCTYPE'");
        Name(at, "the name of the root element");
        std::size_t next = SkipSpace(at);
        if (StartsWith(next, "SYSTEM") || StartsWith(next, "PUBLIC")) {
            if (next == at)
                Fail(next, "expected white space before " + std::string(text_.substr(next, 6)));
            at = ExternalId(next, false);
            hasExternalSubset_ = true;
            next = SkipSpace(at);
        }
        if (At(next) == '[') {
            inSubset_ = true;
            at = InternalSubset(next + 1, start);
            inSubset_ = false;
            next = SkipSpace(at);
        }
        if (At(next) != '>')
            Fail(next,
                 "expected '>' to end the document type declaration, found " + Describe(next));
        return next + 1;
    }

    // SYSTEM "literal" or PUBLIC "pubid" "literal"; with publicOnly (notations), the system
    // literal after PUBLIC may be left out.
    std::size_t ExternalId(std::size_t at, bool publicOnly) {
        if (StartsWith(at, "SYSTEM")) {
            at += 6;
            RequireSpace(at, "after SYSTEM");
            SystemLiteral(at);
            return at;
        }
        if (!StartsWith(at, "PUBLIC"))
            Fail(at, "expected SYSTEM or PUBLIC, found " + Describe(at));
        at += 6;
        RequireSpace(at, "after PUBLIC");
        const char quote = At(at);
        const std::size_t start = at;
        const std::string_view pubid = Quoted(at, "public identifier");
        for (std::size_t i = 0; i < pubid.size(); ++i) {
            if (!Is(pubid[i], kPubid) || (quote == '\'' && pubid[i] == '\''))
                Fail(start + 1 + i, "character " + Describe(start + 1 + i) +
                                        " is not allowed in a public identifier");
        }
        const std::size_t next = SkipSpace(at);
        if (publicOnly && (next == at || (At(next) != '"' && At(next) != '\'')))
            return at;
        if (next == at)
            Fail(at,
                 "expected white space and a system literal after the public identifier, "
                 "found " +
                     Describe(at));
        at = next;
        SystemLiteral(at);
        return at;
    }

    void SystemLiteral(std::size_t& at) const {
        const std::size_t start = at;
        Quoted(at, "system literal");
        CheckChars(start + 1, at - 1, nullptr);
    }

    std::size_t InternalSubset(std::size_t at, std::size_t doctype) {
        for (;;) {
            at = SkipSpace(at);
            if (at >= text_.size()) {
                if (frames_.empty())
                    Fail(doctype, "document type declaration is not closed");
                at = Leave();
                continue;
            }
            const char c = text_[at];
            if (c == ']') {
                if (!frames_.empty())
                    Fail(at, "']' inside a parameter entity");
                return at + 1;
            }
            if (c == '%') {
                at = ParameterReference(at);
            } else if (StartsWith(at, "<!--")) {
                at = SkipComment(at);
            } else if (StartsWith(at, "<?")) {
                at = SkipInstruction(at);
            } else if (StartsWith(at, "<!ELEMENT")) {
                at = ElementDecl(at);
            } else if (StartsWith(at, "<!ATTLIST")) {
                at = AttlistDecl(at);
            } else if (StartsWith(at, "<!ENTITY")) {
                at = EntityDecl(at);
            } else if (StartsWith(at, "<!NOTATION")) {
                at = NotationDecl(at);
            } else if (StartsWith(at, "<![")) {
                Fail(at, "conditional sections are only allowed in the external subset");
            } else {
                Fail(at,
                     "expected a markup declaration, a parameter entity reference or ']' in "
                     "the internal subset, found " +
                         Describe(at));
            }
        }
    }

    // %name; between declarations: an internal parameter entity is read in its place. One that
    // is not read (external, or not declared) may declare anything, so the entity and
    // attribute-list declarations after it are not processed unless the document stands alone.
    std::size_t ParameterReference(std::size_t at) {
        std::size_t p = at + 1;
        const std::string_view name = Name(p, "a parameter entity name after '%'");
        if (At(p) != ';')
            Fail(p, "expected ';' to end the parameter entity reference '%" + std::string(name) +
                        "', found " + Describe(p));
        ++p;
        sawParameterReference_ = true;
        auto found = parameter_.find(name);
        if (found == parameter_.end()) {
            if (standalone_)
                Fail(at, "parameter entity '%" + std::string(name) + ";' is not declared");
            skipDeclarations_ = true;
            return p;
        }
        if (found->second.external) {
            if (!standalone_)
                skipDeclarations_ = true;
            return p;
        }
        return Enter(found->second, at, p, 0, 0);
    }

    std::size_t ElementDecl(std::size_t at) {
        at += 9;
        RequireSpace(at, "after '<!ELEMENT'");
        Name(at, "an element type name");
        RequireSpace(at, "after the element type name");
        if (StartsWith(at, "EMPTY")) {
            at += 5;
        } else if (StartsWith(at, "ANY")) {
            at += 3;
        } else if (At(at) == '(') {
            at = ContentModel(at);
        } else {
            Fail(at,
                 "expected EMPTY, ANY or '(' in the element declaration, found " + Describe(at));
        }
        at = SkipSpace(at);
        Expect(at, '>', "to end the element declaration");
        return at;
    }

    static bool IsQuantifier(char c) {
        return c == '?' || c == '*' || c == '+';
    }

    // A mixed or element content model from '('. Groups nest through a stack, not recursion.
    std::size_t ContentModel(std::size_t at) {
        std::size_t p = SkipSpace(at + 1);
        if (StartsWith(p, "#PCDATA")) {
            p = SkipSpace(p + 7);
            if (At(p) == ')') {
                ++p;
                return At(p) == '*' ? p + 1 : p;
            }
            while (At(p) == '|') {
                p = SkipSpace(p + 1);
                Name(p, "an element name in mixed content");
                p = SkipSpace(p);
            }
            Expect(p, ')', "or '|' in mixed content");
            if (At(p) != '*')
                Fail(p, "mixed content naming elements must end with ')*', found " + Describe(p));
            return p + 1;
        }
        std::vector<char> separators{0};  // per open group: ',' or '|' once known
        p = at + 1;
        for (;;) {
            p = SkipSpace(p);
            if (At(p) == '(') {
                separators.push_back(0);
                ++p;
                continue;
            }
            Name(p, "an element name or '(' in the content model");
            if (IsQuantifier(At(p)))
                ++p;
            // After a content particle: a separator, or the end of one or more groups.
            for (;;) {
                p = SkipSpace(p);
                const char c = At(p);
                if (c == ')') {
                    separators.pop_back();
                    ++p;
                    if (IsQuantifier(At(p)))
                        ++p;
                    if (separators.empty())
                        return p;
                    continue;
                }
                if (c == '|' || c == ',') {
                    if (separators.back() != 0 && separators.back() != c)
                        Fail(p, "'|' and ',' mixed in one group of the content model");
                    separators.back() = c;
                    ++p;
                    break;
                }
                Fail(p, "expected '|', ',' or ')' in the content model, found " + Describe(p));
            }
        }
    }

    std::size_t AttlistDecl(std::size_t at) {
        at += 9;
        RequireSpace(at, "after '<!ATTLIST'");
        const std::string_view element = Name(at, "an element type name");
        ElementDecls* decls = skipDeclarations_ ? nullptr : &attlists_[element];
        for (;;) {
            std::size_t p = SkipSpace(at);
            if (At(p) == '>')
                return p + 1;
            if (p == at)
                Fail(p, "expected white space or '>' in the attribute-list declaration, found " +
                            Describe(p));
            at = p;
            const std::string_view name = Name(at, "an attribute name");
            RequireSpace(at, "after attribute name '" + std::string(name) + "'");
            bool tokenized = true;
            if (At(at) == '(') {
                at = Enumeration(at, false);
            } else {
                std::size_t end = at;
                while (end < text_.size() && text_[end] >= 'A' && text_[end] <= 'Z')
                    ++end;
                const std::string_view type = text_.substr(at, end - at);
                if (type == "CDATA") {
                    tokenized = false;
                } else if (type == "NOTATION") {
                    RequireSpace(end, "after NOTATION");
                    if (At(end) != '(')
                        Fail(end, "expected '(' after NOTATION, found " + Describe(end));
                    end = Enumeration(end, true);
                } else if (type != "ID" && type != "IDREF" && type != "IDREFS" &&
                           type != "ENTITY" && type != "ENTITIES" && type != "NMTOKEN" &&
                           type != "NMTOKENS") {
                    Fail(at,
                         "expected an attribute type (CDATA, ID, IDREF, IDREFS, ENTITY, "
                         "ENTITIES, NMTOKEN, NMTOKENS, NOTATION or '('), found " +
                             Describe(at));
                }
                at = end;
            }
            RequireSpace(at, "after the type of attribute '" + std::string(name) + "'");
            bool hasDefault = false;
            std::string value;
            if (StartsWith(at, "#REQUIRED")) {
                at += 9;
            } else if (StartsWith(at, "#IMPLIED")) {
                at += 8;
            } else {
                if (StartsWith(at, "#FIXED")) {
                    at += 6;
                    RequireSpace(at, "after #FIXED");
                }
                const char quote = At(at);
                if (quote != '"' && quote != '\'')
                    Fail(at,
                         "expected #REQUIRED, #IMPLIED, #FIXED or a quoted default value for "
                         "attribute '" +
                             std::string(name) + "', found " + Describe(at));
                const std::size_t close = text_.find(quote, at + 1);
                if (close == std::string_view::npos)
                    Fail(at,
                         "default value of attribute '" + std::string(name) + "' is not closed");
                lenient_ = decls == nullptr;
                AttributeValue(value, at + 1, close);
                lenient_ = false;
                at = close + 1;
                hasDefault = true;
            }
            if (decls && decls->index.find(name) == decls->index.end()) {
                if (tokenized)
                    CollapseSpaces(value);
                decls->index.emplace(name, decls->attributes.size());
                if (hasDefault)
                    decls->defaults.push_back(decls->attributes.size());
                decls->attributes.push_back({name, tokenized, hasDefault, std::move(value), 0});
            }
        }
    }

    // (a|b|c) of name tokens, or of names after NOTATION.
    std::size_t Enumeration(std::size_t at, bool names) {
        std::size_t p = at + 1;
        for (;;) {
            p = SkipSpace(p);
            Name(p, names ? "a notation name" : "a name token", names);
            p = SkipSpace(p);
            if (At(p) == ')')
                return p + 1;
            Expect(p, '|', "or ')' in the enumeration");
        }
    }

    std::size_t EntityDecl(std::size_t at) {
        at += 8;
        RequireSpace(at, "after '<!ENTITY'");
        Entity entity;
        if (At(at) == '%') {
            ++at;
            RequireSpace(at, "after '%' in a parameter entity declaration");
            entity.parameter = true;
        }
        entity.name = Name(at, "an entity name");
        RequireSpace(at, "after the entity name");
        const char quote = At(at);
        if (quote == '"' || quote == '\'') {
            const std::size_t close = text_.find(quote, at + 1);
            if (close == std::string_view::npos)
                Fail(at, "value of entity '" + std::string(entity.name) + "' is not closed");
            EntityValue(entity.text, at + 1, close);
            at = close + 1;
        } else {
            at = ExternalId(at, false);
            entity.external = true;
            const std::size_t next = SkipSpace(at);
            if (StartsWith(next, "NDATA")) {
                if (next == at)
                    Fail(next, "expected white space before NDATA");
                if (entity.parameter)
                    Fail(next, "a parameter entity cannot be unparsed (NDATA)");
                at = next + 5;
                RequireSpace(at, "after NDATA");
                Name(at, "a notation name");
                entity.unparsed = true;
            }
        }
        at = SkipSpace(at);
        Expect(at, '>', "to end the declaration of entity '" + std::string(entity.name) + "'");
        char predefined = 0;
        if (skipDeclarations_ || (!entity.parameter && IsPredefined(entity.name, predefined)))
            return at;
        // The first declaration of a name is binding.
        (entity.parameter ? parameter_ : general_).try_emplace(entity.name, std::move(entity));
        return at;
    }

    // The replacement text of an internal entity from its literal text_[from, to): character
    // references and line ends resolved, general entity references kept as written for when
    // the entity is used. Parameter entity references may not stand inside declarations here.
    void EntityValue(std::string& out, std::size_t from, std::size_t to) const {
        std::size_t at = from;
        std::size_t run = from;
        const auto* p = reinterpret_cast<const unsigned char*>(text_.data());
        while (true) {
            while (at < to && !(kClass[p[at]] & kEntityStop))
                ++at;
            if (at >= to)
                break;
            const unsigned char c = p[at];
            if (c == '%') {
                std::size_t after = at + 1;
                if (NameCharAt(after, true) != 0) {
                    const std::string_view name = Name(after, "a name");
                    if (At(after) == ';')
                        Fail(at, "parameter entity reference '%" + std::string(name) +
                                     ";' inside a declaration: the internal subset allows them "
                                     "only between declarations");
                }
                Fail(at, "'%' in an entity value must begin a parameter entity reference");
            } else if (c == '&') {
                out.append(text_.data() + run, at - run);
                if (At(at + 1) == '#') {
                    AppendUtf8(out, CharReference(at));
                } else {
                    const std::size_t start = at;
                    EntityName(at);
                    out.append(text_.data() + start, at - start);
                }
                run = at;
            } else if (c == '\r') {
                if (frames_.empty()) {
                    at = run = AppendLineEnd(out, run, at, to);
                } else {
                    ++at;
                }
            } else if (c >= 0x80) {
                at = SkipUtf8(at);
            } else {
                Fail(at, NotAChar(c));
            }
        }
        out.append(text_.data() + run, to - run);
    }

    std::size_t NotationDecl(std::size_t at) {
        at += 10;
        RequireSpace(at, "after '<!NOTATION'");
        Name(at, "a notation name");
        RequireSpace(at, "after the notation name");
        at = ExternalId(at, true);
        at = SkipSpace(at);
        Expect(at, '>', "to end the notation declaration");
        return at;
    }

    // ---- element content ----

    // Appends the normalised value of the attribute literal text_[at, end): references
    // replaced (entities read in place), white space characters made spaces, line ends in the
    // document one space.
    void AttributeValue(std::string& out, std::size_t at, std::size_t end) {
        const std::size_t base = frames_.size();
        if (out.empty() && end - at > 64)
            ReserveLargeBuffer(out, end - at);
        std::size_t run = at;
        for (;;) {
            at = SkipPlainValue(at, end);
            if (at >= end) {
                out.append(text_.data() + run, end - run);
                if (frames_.size() == base)
                    return;
                at = Leave(&end);
                run = at;
                continue;
            }
            const auto c = static_cast<unsigned char>(text_[at]);
            if (c == '&') {
                out.append(text_.data() + run, at - run);
                const std::size_t frames = frames_.size();
                at = ValueReference(out, at, end);
                if (frames_.size() > frames)
                    end = text_.size();
            } else if (c == '<') {
                Fail(at, "'<' inside an attribute value");
            } else if (c == '\t' || c == '\n') {
                out.append(text_.data() + run, at - run);
                out += ' ';
                ++at;
            } else if (c == '\r') {
                out.append(text_.data() + run, at - run);
                out += ' ';
                at += frames_.empty() && at + 1 < end && text_[at + 1] == '\n' ? 2 : 1;
            } else if (c >= 0x80) {
                at = SkipUtf8(at);
                continue;
            } else {
                Fail(at, NotAChar(c));
            }
            run = at;
        }
    }

    // Reads a character reference or a reference to a predefined entity at at into out and gives
    // an empty name; for a reference to any other entity gives its name. Either way at moves past
    // the reference.
    std::string_view SimpleReference(std::string& out, std::size_t& at) {
        if (At(at + 1) == '#') {
            AppendUtf8(out, CharReference(at));
            return {};
        }
        const std::string_view name = EntityName(at);
        char character = 0;
        if (IsPredefined(name, character)) {
            out += character;
            return {};
        }
        return name;
    }

    // A reference at at in an attribute value: a character is appended, an entity is entered
    // (giving 0, the start of its text). Gives where to read on.
    std::size_t ValueReference(std::string& out, std::size_t at, std::size_t end) {
        const std::size_t start = at;
        const std::string_view name = SimpleReference(out, at);
        if (name.empty())
            return at;
        auto found = general_.find(name);
        if (found == general_.end() && lenient_ && !MustBeDeclared())
            return at;  // in a declaration that is not processed
        Entity& entity = General(name, start);
        if (entity.unparsed)
            Fail(start, "reference to unparsed entity '" + std::string(name) + "'");
        if (entity.external)
            Fail(start, "attribute value refers to external entity '" + std::string(name) + "'");
        return Enter(entity, start, at, end, 0);
    }

    // A new element at at ('<' of its start tag), with its attributes. Sets selfClosed when the
    // tag ends with "/>" and at past the tag.
    XmlElem* StartTag(std::size_t& at, XmlElem* parent, std::string_view& name, bool& selfClosed) {
        const std::size_t start = at;
        ++at;
        name = Name(at, "an element name");
        XmlElem* element;
        if (!parent) {
            root_ = new ParsedRoot(Intern(name), std::move(store_), std::move(names_));
            element = root_;
            store_ = nullptr;
        } else {
            element = new (store().Allocate(sizeof(XmlElem), alignof(XmlElem)))
                XmlElem(XmlElem::LentNames{}, Intern(name));
            element->parent_ = parent;
            pendingChildren_.push_back(element);
        }
        const auto [line, column] = positions_.At(DocumentOffset(start));
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
                             ">, found " + Describe(at));
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
            attributes_.emplace_back();
            attributes_.back().first = attributeName;
            AttributeValue(attributes_.back().second, at + 1, close);
            at = close + 1;
        }
        if (!attlists_.empty())
            ApplyDeclarations(name, start);
        if (attributes_.size() > kMaxListSize)
            Fail(start, "a start tag with more than 4294967295 attributes");
        if (!attributes_.empty()) {
            using Attribute = std::pair<Symbol, std::string>;
            Attribute* list = store().AllocateArray<Attribute>(attributes_.size());
            // The root counts its own names; the elements in the blocks borrow theirs.
            const bool lend = element != root_;
            for (std::size_t i = 0; i < attributes_.size(); ++i) {
                const Symbol& attributeName = Intern(attributes_[i].first);
                new (list + i) Attribute(lend ? XmlElem::LendName(attributeName) : attributeName,
                                         std::move(attributes_[i].second));
            }
            element->attributes_.Adopt(list, static_cast<std::uint32_t>(attributes_.size()));
            element->lentAttributeNames_ = lend;
        }
        return element;
    }

    // Declared types other than CDATA collapse blanks; declared defaults fill in attributes that
    // are not written, after the written ones.
    void ApplyDeclarations(std::string_view name, std::size_t start) {
        auto found = attlists_.find(name);
        if (found == attlists_.end())
            return;
        ElementDecls& decls = found->second;
        const std::uint64_t tag = ++tags_;
        for (auto& [attributeName, value] : attributes_) {
            auto declared = decls.index.find(attributeName);
            if (declared == decls.index.end())
                continue;
            AttributeDecl& decl = decls.attributes[declared->second];
            decl.seen = tag;
            if (decl.tokenized)
                CollapseSpaces(value);
        }
        for (std::size_t index : decls.defaults) {
            const AttributeDecl& decl = decls.attributes[index];
            if (decl.seen == tag)
                continue;
            if (!Charge(decl.name.size() + decl.value.size() + 4))
                FailBudget(start,
                           "supplying the default attributes of <" + std::string(name) + ">");
            attributes_.emplace_back(decl.name, decl.value);
        }
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

    // Gives the element its text and the children made since it opened. Short texts go to the
    // blocks; long ones become the element's string at once, which GetText then hands out as it
    // is (a buffer is moved there, not copied).
    void Close(Open& open, std::size_t at) {
        const std::string_view text = open.text.View();
        if (text.size() > kStoredTextLimit) {
            open.element->StoreText(open.text.Take());
        } else if (!text.empty()) {
            char* bytes = store().AllocateArray<char>(text.size());
            std::memcpy(bytes, text.data(), text.size());
            open.element->textData_ = bytes;
            open.element->textSize_ = static_cast<std::uint32_t>(text.size());
        }
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

    // Character data from at up to markup, a reference or the end of the text being read,
    // appended to out with line ends made LF. Unless white space is kept, a run of white space
    // alone up to markup is layout and dropped; after a reference, it is text.
    std::size_t CharData(std::size_t at, TextSink& out, bool afterReference) {
        const std::size_t end = text_.size();
        if (!keepWhitespace_ && !afterReference) {
            std::size_t p = at;
            while (p < end && Is(text_[p], kSpace))
                ++p;
            if (p == end || text_[p] == '<')
                return p;
        }
        std::size_t run = at;
        for (;;) {
            at = SkipPlainText(at, end);
            if (at >= end)
                break;
            const auto c = static_cast<unsigned char>(text_[at]);
            if (c == '<' || c == '&')
                break;
            if (c == '\t' || c == '\n') {
                ++at;
            } else if (c == ']') {
                if (StartsWith(at, "]]>"))
                    Fail(at, "']]>' in text: it may only end a CDATA section");
                ++at;
            } else if (c == '\r') {
                if (!frames_.empty()) {
                    ++at;
                    continue;
                }
                at = run = AppendLineEnd(out.Buffer(), run, at, end);
            } else if (c >= 0x80) {
                at = SkipUtf8(at);
            } else {
                Fail(at, NotAChar(c));
            }
        }
        out.Append(text_.data() + run, at - run);
        return at;
    }

    void Append(std::string& out, std::size_t from, std::size_t to) const {
        if (to == from)
            return;
        if (out.empty())
            ReserveLargeBuffer(out, to - from);
        out.append(text_.data() + from, to - from);
    }

    // A reference in content at at: a character is appended, an internal entity is entered.
    std::size_t ContentReference(std::size_t at, std::string& out, std::size_t openElements) {
        const std::size_t start = at;
        const std::string_view name = SimpleReference(out, at);
        if (name.empty())
            return at;
        Entity& entity = General(name, start);
        if (entity.unparsed)
            Fail(start, "reference to unparsed entity '" + std::string(name) + "' in content");
        if (entity.external)
            Fail(start,
                 "entity '" + std::string(name) + "' is an external entity, which is not read",
                 XmlParseStatus::ExternalEntity);
        return Enter(entity, start, at, 0, openElements);
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
        bool afterReference = false;
        while (!open.empty()) {
            XmlElem* element = open.back().element;
            at = CharData(at, open.back().text, afterReference);
            if (at >= text_.size()) {
                if (frames_.empty())
                    Fail(at, "end of text inside <" + std::string(open.back().name) +
                                 ">, opened at " + Where(open.back().element));
                if (open.size() != frames_.back().openElements)
                    Fail(at, "<" + std::string(open.back().name) + "> is not closed");
                at = Leave();
                continue;
            }
            if (text_[at] == '&') {
                at = ContentReference(at, open.back().text.Buffer(), open.size());
                afterReference = true;
                continue;
            }
            afterReference = false;
            const char next = At(at + 1);
            if (next == '/') {
                std::size_t after = at + 2;
                // Nearly always the end tag names the open element: its bytes and then one that
                // cannot go on a name are checked without reading the name again.
                const std::string_view expected = open.back().name;
                const std::size_t end = after + expected.size();
                std::string_view closing;
                if (end < text_.size() &&
                    std::memcmp(text_.data() + after, expected.data(), expected.size()) == 0 &&
                    !Is(text_[end], kName) && static_cast<unsigned char>(text_[end]) < 0x80) {
                    closing = expected;
                    after = end;
                } else {
                    closing = Name(after, "an end tag name");
                }
                if (closing != open.back().name)
                    Fail(at, "end tag </" + std::string(closing) + "> does not match <" +
                                 std::string(open.back().name) + "> opened at " + Where(element));
                if (!frames_.empty() && open.size() <= frames_.back().openElements)
                    Fail(at, "end tag </" + std::string(closing) +
                                 "> closes an element opened outside the entity");
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
                    const std::size_t end = text_.find("]]>", at + 9);
                    if (end == std::string_view::npos)
                        Fail(at, "CDATA section is not closed");
                    std::string& text = open.back().text.Buffer();
                    if (text.empty() && end - at > 64)
                        ReserveLargeBuffer(text, end - at);
                    CheckChars(at + 9, end, &text);
                    at = end + 3;
                } else {
                    Fail(at, "unexpected '<!' inside <" + std::string(open.back().name) + ">");
                }
            } else if (next == '?') {
                at = SkipInstruction(at);
            } else if (NameCharAt(at + 1, true) != 0) {
                XmlElem* child = StartTag(at, element, name, selfClosed);
                if (!selfClosed)
                    open.push_back({child, name, pendingChildren_.size()});
            } else {
                Fail(at + 1,
                     "expected a name, '/', '!' or '?' after '<', found " + Describe(at + 1));
            }
        }
        return at;
    }

    std::string Where(const XmlElem* element) const {
        return std::to_string(element->line_) + ":" + std::to_string(element->column_);
    }

    BlockStore& store() {
        return *storeRaw_;
    }

    static void Destroy(XmlElem* element) {
        element->DestroySubtree();
        element->~XmlElem();
    }

    std::string_view doc_;   // the whole document
    std::string_view text_;  // what is being read: the document or an entity's replacement text
    bool keepWhitespace_;
    XmlEncoding encoding_;
    std::size_t start_ = 0;  // after the byte order mark: where the XML declaration may stand
    bool sawDoctype_ = false;
    bool standalone_ = false;
    bool hasExternalSubset_ = false;
    bool sawParameterReference_ = false;
    bool skipDeclarations_ = false;  // after a parameter entity that was not read
    bool lenient_ = false;           // reading a declaration that is not processed
    bool inSubset_ = false;
    std::size_t expanded_ = 0;  // replacement text read and defaults supplied, in bytes
    std::uint64_t tags_ = 0;
    PositionCounter positions_;
    std::unique_ptr<BlockStore> store_;  // until the root takes it
    BlockStore* storeRaw_ = nullptr;
    XmlElem* root_ = nullptr;
    std::vector<XmlElem*> pendingChildren_;  // made, not yet given to their parents
    std::vector<std::pair<std::string_view, std::string>> attributes_;
    std::unordered_set<std::string_view> attributeNames_;
    std::unique_ptr<NameTable> names_ = std::make_unique<NameTable>();  // until the root takes it
    NameTable* namesRaw_ = names_.get();
    std::vector<Frame> frames_;
    std::unordered_map<std::string_view, Entity> general_;
    std::unordered_map<std::string_view, Entity> parameter_;
    std::unordered_map<std::string_view, ElementDecls> attlists_;
};

XmlParseResult ParseUtf8Xml(std::string_view text, bool keepWhitespace, XmlEncoding encoding) {
    XmlTreeBuilder builder(text, keepWhitespace, encoding);
    XmlParseResult result;
    try {
        result.root.reset(builder.Parse());
    } catch (const SyntaxError& failure) {
        result.status = failure.status;
        result.offset = failure.offset;
        std::tie(result.line, result.column) = builder.PositionOf(failure.offset);
        result.reason = failure.reason;
    }
    return result;
}
