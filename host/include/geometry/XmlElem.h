// XmlElem: the host's XML element tree, with typed access to text and attributes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "geometry/Export.h"
#include "geometry/ValueTypes.h"
#include "utilities/Symbol.h"

// One XML element: a name, attributes in the order set, text, and ordered children that it owns.
// Typed getters read the text forms of geometry/ValueText.h; on text that is not a value of the
// kind they give the kind's default (zero, false, zero vector, identity quaternion). An attribute
// index must come from FindAttribute and not be npos.
class GEOMETRY_API XmlElem {
public:
    // The index FindAttribute gives when there is no such attribute.
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // An element named name, without attributes, text or children.
    explicit XmlElem(const Symbol& name);
    XmlElem(const XmlElem&) = delete;
    XmlElem& operator=(const XmlElem&) = delete;
    // Frees the element and its whole subtree, without recursion however deep it is.
    virtual ~XmlElem();

    // Number of children.
    virtual std::size_t GetChildCount() const;
    // Child at index; null when index is not below GetChildCount().
    virtual XmlElem* GetChild(std::size_t index) const;
    // The parent; null at the top.
    virtual XmlElem* GetParent() const;
    // The element name.
    virtual const Symbol& GetName() const;
    // Index of the attribute called name, or npos.
    virtual std::size_t FindAttribute(const Symbol& name) const;
    // Text of the attribute at index (an empty text for an index out of range).
    virtual const std::string& GetAttributeText(std::size_t index) const;

    // The attribute at index read as a value of each kind.
    virtual std::int32_t GetAttributeAsInt(std::size_t index) const;
    virtual float GetAttributeAsFloat(std::size_t index) const;
    virtual double GetAttributeAsDouble(std::size_t index) const;
    virtual std::int64_t GetAttributeAsInt64(std::size_t index) const;
    virtual std::uint32_t GetAttributeAsHex(std::size_t index) const;
    virtual Location GetAttributeAsLocation(std::size_t index) const;
    virtual DPoint3D GetAttributeAsDPoint3D(std::size_t index) const;
    virtual FPoint3D GetAttributeAsFPoint3D(std::size_t index) const;
    virtual DPoint2D GetAttributeAsDPoint2D(std::size_t index) const;
    virtual DVec2 GetAttributeAsDVec2(std::size_t index) const;
    virtual DVec3 GetAttributeAsDVec3(std::size_t index) const;
    virtual FVec3 GetAttributeAsFVec3(std::size_t index) const;
    virtual Quaternion<float> GetAttributeAsQuaternion(std::size_t index) const;
    virtual bool GetAttributeAsBool(std::size_t index) const;

    // The element's own text: its character data, CDATA included, without that of children.
    virtual const std::string& GetText() const;

    // The text read as a value of each kind.
    virtual std::int32_t GetTextAsInt() const;
    virtual float GetTextAsFloat() const;
    virtual double GetTextAsDouble() const;
    virtual std::int64_t GetTextAsInt64() const;
    virtual std::uint32_t GetTextAsHex() const;
    virtual Location GetTextAsLocation() const;
    virtual DPoint3D GetTextAsDPoint3D() const;
    virtual DPoint2D GetTextAsDPoint2D() const;
    virtual FPoint3D GetTextAsFPoint3D() const;
    virtual DVec2 GetTextAsDVec2() const;
    virtual DVec3 GetTextAsDVec3() const;
    virtual FVec3 GetTextAsFVec3() const;
    virtual Quaternion<float> GetTextAsQuaternion() const;
    virtual bool GetTextAsBool() const;

    // Sets the attribute name to a text, replacing an attribute of that name.
    virtual void SetAttribute(const Symbol& name, const std::string& value);
    // Sets the attribute name to a count in decimal.
    virtual void SetAttribute(const Symbol& name, std::uint32_t count);
    // Appends child, which this element then owns; a null child is ignored.
    virtual void AddChild(XmlElem* child);

    // Sets the text from a value of each kind.
    virtual void SetText(const std::string& value);
    virtual void SetText(std::int32_t value);
    virtual void SetText(float value);
    virtual void SetText(double value);
    virtual void SetText(std::int64_t value);
    // Sets the text to the packed colour form of a 32-bit value.
    virtual void SetTextAsHex(std::uint32_t value);
    virtual void SetText(const Location& value);
    virtual void SetText(const DPoint3D& value);
    virtual void SetText(const DPoint2D& value);
    virtual void SetText(const FPoint3D& value);
    virtual void SetText(const DVec2& value);
    virtual void SetText(const DVec3& value);
    virtual void SetText(const FVec3& value);
    virtual void SetText(const Quaternion<float>& value);
    virtual void SetText(bool value);

    // Keeps a C string from silently choosing the bool overload.
    void SetText(const char* value) { SetText(std::string(value ? value : "")); }

    // Number of attributes.
    std::size_t GetAttributeCount() const noexcept { return attributes_.size(); }
    // Name of the attribute at index (empty for an index out of range).
    const Symbol& GetAttributeName(std::size_t index) const noexcept;
    // Position of the element's start tag in the text it was parsed from, counted from 1;
    // 0 for elements that were not parsed.
    std::uint32_t GetSourceLine() const noexcept { return line_; }
    std::uint32_t GetSourceColumn() const noexcept { return column_; }
    void SetSourcePosition(std::uint32_t line, std::uint32_t column) noexcept {
        line_ = line;
        column_ = column;
    }
    // Appends to the element's text.
    void AppendText(const char* data, std::size_t size);
    // The element's text as GetText gives it, without making a string of it; valid until the
    // text is set again.
    std::string_view GetTextView() const noexcept {
        if (const std::string* text = textString_.load(std::memory_order_acquire))
            return *text;
        return {textData_, textSize_};
    }

protected:
    // Destroys the children and lists of a parsed root before the storage they live in goes.
    void ReleaseParsedStorage() noexcept;

private:
    friend class XmlTreeBuilder;  // the text parser fills elements in place

    // A list in storage of its own, or adopted from the block store of a parsed tree (which
    // frees it; the list then only destroys its items, and copies them out before growing). An
    // adopted list is told by its capacity of 0 with items, which keeps the record small.
    template <class T>
    class List {
    public:
        List() = default;
        List(const List&) = delete;
        List& operator=(const List&) = delete;
        ~List() { Reset(); }

        std::size_t size() const noexcept { return size_; }
        T& operator[](std::size_t index) noexcept { return data_[index]; }
        const T& operator[](std::size_t index) const noexcept { return data_[index]; }
        T* begin() noexcept { return data_; }
        T* end() noexcept { return data_ + size_; }
        const T* begin() const noexcept { return data_; }
        const T* end() const noexcept { return data_ + size_; }

        template <class... Args>
        void emplace_back(Args&&... args) {
            if (size_ >= capacity_)
                Grow();
            new (data_ + size_) T(std::forward<Args>(args)...);
            ++size_;
        }
        // Takes count (at least one) items constructed at data, in storage that someone else
        // frees.
        void Adopt(T* data, std::uint32_t count) noexcept {
            Reset();
            data_ = data;
            size_ = count;
            capacity_ = 0;
        }
        // Destroys the items and gives back owned storage.
        void Reset() noexcept {
            for (std::uint32_t i = 0; i < size_; ++i)
                data_[i].~T();
            if (capacity_ != 0)
                FreeList(data_, sizeof(T) * capacity_);
            data_ = nullptr;
            size_ = capacity_ = 0;
        }

    private:
        void Grow() {
            const std::uint32_t now = capacity_ > size_ ? capacity_ : size_;
            std::uint32_t capacity = 0xFFFFFFFFu;
            if (now < 4)
                capacity = 4;
            else if (now <= 0x7FFFFFFFu)
                capacity = now * 2;
            else if (now == 0xFFFFFFFFu)
                throw std::length_error("an XML element holds at most 4294967295 items of a kind");
            T* data = static_cast<T*>(AllocateList(sizeof(T) * capacity));
            for (std::uint32_t i = 0; i < size_; ++i) {
                new (data + i) T(std::move(data_[i]));
                data_[i].~T();
            }
            if (capacity_ != 0)
                FreeList(data_, sizeof(T) * capacity_);
            data_ = data;
            capacity_ = capacity;
        }

        T* data_ = nullptr;
        std::uint32_t size_ = 0;
        std::uint32_t capacity_ = 0;
    };

    // Storage for lists: small ones from the records NewXmlElem takes elements from, which
    // spares the allocator a call per element and frees them in blocks.
    static void* AllocateList(std::size_t bytes);
    static void FreeList(void* data, std::size_t bytes) noexcept;

    void DestroySubtree() noexcept;

    // Elements in a parsed tree's blocks hold their names, and the attribute names they were
    // parsed with, as loans from the tree (which counts one reference per distinct name), so
    // that making and freeing a tree does not count every element's name up and down.
    struct LentNames {};
    XmlElem(LentNames, const Symbol& name) : name_(Symbol::Lend(name)), inBlockStore_(true) {}
    static Symbol LendName(const Symbol& name) noexcept { return Symbol::Lend(name); }
    // Turns the lent attribute names into counted ones, before the list changes.
    void OwnAttributeNames() noexcept;

    Symbol name_;
    XmlElem* parent_ = nullptr;
    List<std::pair<Symbol, std::string>> attributes_;
    List<XmlElem*> children_;
    // Replaces the text, which the element then owns as a string.
    void StoreText(std::string&& text);

    // The text: a string of its own once set, made or asked for; until then the bytes of a short
    // parsed text in the tree's blocks. Parsed texts become a string only when GetText asks,
    // once, whichever thread asks first.
    mutable std::atomic<std::string*> textString_{nullptr};
    const char* textData_ = nullptr;
    std::uint32_t textSize_ = 0;
    std::uint32_t line_ = 0;
    std::uint32_t column_ = 0;
    // Made by the parser in its block store (with a lent name): destroyed, never deleted.
    bool inBlockStore_ = false;
    bool lentAttributeNames_ = false;  // the attribute names are loans (see LentNames)
};

// A new element named name; the flag is reserved and passed as false. The element belongs to the
// parent it is added to (or to whoever frees it with FreeXml).
GEOMETRY_API XmlElem* NewXmlElem(const Symbol& name, bool reserved);

// Frees a tree made by ParseXml or NewXmlElem (any root without a parent); null is ignored.
GEOMETRY_API void FreeXml(XmlElem* root);

// Owns a parsed tree and frees it with FreeXml.
struct XmlTreeDeleter {
    void operator()(XmlElem* root) const noexcept { FreeXml(root); }
};
using XmlTree = std::unique_ptr<XmlElem, XmlTreeDeleter>;

// How parsing XML text ended.
enum class XmlParseStatus {
    Ok,              // the text is well-formed XML 1.0
    BadEncoding,     // an encoding not supported, one the text contradicts, or bytes not in it
    NotWellFormed,   // the text breaks a rule of XML 1.0
    ExternalEntity,  // the text needs an external entity, which is never read
    EntityBudget,    // entity references would make the text grow past the budget
};

// What parsing XML text gave: the tree, or where and why the text is refused.
struct GEOMETRY_API XmlParseResult {
    XmlTree root;  // the root element; null on failure
    XmlParseStatus status = XmlParseStatus::Ok;
    // Where the text stops being XML: the byte offset in the text as UTF-8 (for text in another
    // encoding, in its UTF-8 conversion), and the line and column, counted from 1 as characters
    // of that line's UTF-8 bytes. 0 on success.
    std::size_t offset = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    std::string reason;  // what is wrong, for people; empty on success

    // True when the text was parsed.
    explicit operator bool() const noexcept { return status == XmlParseStatus::Ok; }
    // "line:column: reason"; empty on success.
    std::string description() const;
};

// Parses XML text into a new element tree. With keepWhitespace true, character data made only
// of white space is kept in element text. Entities declared in the document's internal subset
// are expanded within a budget against amplification (docs/format.md); external entities are
// never fetched, and a reference to one is refused. Never throws for bad text.
GEOMETRY_API XmlParseResult ParseXmlDocument(std::string_view text, bool keepWhitespace);

// ParseXmlDocument for callers that hold the tree themselves: its root element, or null with
// *error (when given) set to "line:column: reason".
GEOMETRY_API XmlElem* ParseXml(const std::string& text, bool keepWhitespace, std::string* error);

// How WriteXml lays text out.
struct XmlWriteOptions {
    int indent = 2;           // spaces per level; 0 or less writes everything on one line
    bool declaration = true;  // starts with <?xml version="1.0" encoding="UTF-8"?>
};

// Writes the tree below root (root included) as UTF-8 XML text. Text and attribute values are
// escaped; characters that XML 1.0 cannot carry are written as documented in docs/format.md.
GEOMETRY_API std::string WriteXml(const XmlElem& root, const XmlWriteOptions& options = {});

// Receives the text WriteXml makes, in chunks of at most 64 KiB; returns false to stop the writing.
using XmlSink = std::function<bool(std::string_view chunk)>;

// Writes the same text as WriteXml into sink, chunk by chunk, without holding all of it; false
// when the sink refused a chunk (the writing stopped there).
GEOMETRY_API bool WriteXml(const XmlElem& root, const XmlSink& sink,
                           const XmlWriteOptions& options = {});

// The size of WriteXml's text for root, short only by what escaping adds (for progress reports
// and buffers).
GEOMETRY_API std::size_t EstimateXmlSize(const XmlElem& root, const XmlWriteOptions& options = {});
