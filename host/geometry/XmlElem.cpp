#include "geometry/XmlElem.h"

#include "XmlRecordPool.h"
#include "geometry/ValueText.h"

#if defined(_WIN32)
// Programs that bind a reference to npos import it from this DLL; MinGW exports an inline static
// member of an exported class only where it is defined out of the class.
constexpr std::size_t XmlElem::npos;
#endif

namespace {

const std::string kEmptyText;
const Symbol kEmptyName;

// Reads text as a value of kind T; unreadable text gives the kind's default.
template <class T>
T ReadAs(std::string_view text) {
    T value{};
    ParseValueText(text, value);
    return value;
}

std::uint32_t ReadHex(std::string_view text) {
    std::uint32_t value = 0;
    ParseHexText(text, value);
    return value;
}

// The string objects that hold element texts come from the pool of element records, so that a
// text costs no allocator call unless it is too long for the string itself.
template <class... Args>
std::string* NewText(Args&&... args) {
    void* record = xml_records::Allocate(sizeof(std::string));
    return new (record) std::string(std::forward<Args>(args)...);
}

void DeleteText(std::string* text) noexcept {
    if (!text)
        return;
    text->~basic_string();
    xml_records::Free(text, sizeof(std::string));
}

template <class T>
std::string TextOf(const T& value) {
    std::string text;
    AppendValueText(text, value);
    return text;
}

}  // namespace

XmlElem::XmlElem(const Symbol& name) : name_(name) {}

XmlElem::~XmlElem() {
    if (inBlockStore_)
        name_.Forget();
    if (lentAttributeNames_) {
        for (auto& attribute : attributes_)
            attribute.first.Forget();
    }
    DestroySubtree();
    DeleteText(textString_.load(std::memory_order_acquire));
}

void XmlElem::DestroySubtree() noexcept {
    // Children are taken apart from a work list so that no depth can exhaust the stack.
    std::vector<XmlElem*> pending(children_.begin(), children_.end());
    children_.Reset();
    while (!pending.empty()) {
        XmlElem* element = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), element->children_.begin(), element->children_.end());
        element->children_.Reset();
        if (element->inBlockStore_) {
            element->~XmlElem();
        } else {
            delete element;
        }
    }
}

void* XmlElem::AllocateList(std::size_t bytes) {
    return bytes <= xml_records::kMaxRecord ? xml_records::Allocate(bytes) : ::operator new(bytes);
}

void XmlElem::FreeList(void* data, std::size_t bytes) noexcept {
    if (bytes <= xml_records::kMaxRecord) {
        xml_records::Free(data, bytes);
    } else {
        ::operator delete(data);
    }
}

void XmlElem::ReleaseParsedStorage() noexcept {
    DestroySubtree();
    attributes_.Reset();
    DeleteText(textString_.exchange(nullptr, std::memory_order_acq_rel));
    textData_ = nullptr;
    textSize_ = 0;
}

std::size_t XmlElem::GetChildCount() const {
    return children_.size();
}

XmlElem* XmlElem::GetChild(std::size_t index) const {
    return index < children_.size() ? children_[index] : nullptr;
}

XmlElem* XmlElem::GetParent() const {
    return parent_;
}

const Symbol& XmlElem::GetName() const {
    return name_;
}

std::size_t XmlElem::FindAttribute(const Symbol& name) const {
    for (std::size_t i = 0; i < attributes_.size(); ++i) {
        if (attributes_[i].first == name)
            return i;
    }
    return npos;
}

const std::string& XmlElem::GetAttributeText(std::size_t index) const {
    return index < attributes_.size() ? attributes_[index].second : kEmptyText;
}

const Symbol& XmlElem::GetAttributeName(std::size_t index) const noexcept {
    return index < attributes_.size() ? attributes_[index].first : kEmptyName;
}

std::int32_t XmlElem::GetAttributeAsInt(std::size_t i) const {
    return ReadAs<std::int32_t>(GetAttributeText(i));
}
float XmlElem::GetAttributeAsFloat(std::size_t i) const {
    return ReadAs<float>(GetAttributeText(i));
}
double XmlElem::GetAttributeAsDouble(std::size_t i) const {
    return ReadAs<double>(GetAttributeText(i));
}
std::int64_t XmlElem::GetAttributeAsInt64(std::size_t i) const {
    return ReadAs<std::int64_t>(GetAttributeText(i));
}
std::uint32_t XmlElem::GetAttributeAsHex(std::size_t i) const {
    return ReadHex(GetAttributeText(i));
}
Location XmlElem::GetAttributeAsLocation(std::size_t i) const {
    return ReadAs<Location>(GetAttributeText(i));
}
DPoint3D XmlElem::GetAttributeAsDPoint3D(std::size_t i) const {
    return ReadAs<DPoint3D>(GetAttributeText(i));
}
FPoint3D XmlElem::GetAttributeAsFPoint3D(std::size_t i) const {
    return ReadAs<FPoint3D>(GetAttributeText(i));
}
DPoint2D XmlElem::GetAttributeAsDPoint2D(std::size_t i) const {
    return ReadAs<DPoint2D>(GetAttributeText(i));
}
DVec2 XmlElem::GetAttributeAsDVec2(std::size_t i) const {
    return ReadAs<DVec2>(GetAttributeText(i));
}
DVec3 XmlElem::GetAttributeAsDVec3(std::size_t i) const {
    return ReadAs<DVec3>(GetAttributeText(i));
}
FVec3 XmlElem::GetAttributeAsFVec3(std::size_t i) const {
    return ReadAs<FVec3>(GetAttributeText(i));
}
Quaternion<float> XmlElem::GetAttributeAsQuaternion(std::size_t i) const {
    return ReadAs<Quaternion<float>>(GetAttributeText(i));
}
bool XmlElem::GetAttributeAsBool(std::size_t i) const {
    return ReadAs<bool>(GetAttributeText(i));
}

const std::string& XmlElem::GetText() const {
    std::string* text = textString_.load(std::memory_order_acquire);
    if (text)
        return *text;
    if (textSize_ == 0)
        return kEmptyText;
    std::string* made = NewText(textData_, textSize_);
    if (textString_.compare_exchange_strong(text, made, std::memory_order_acq_rel))
        return *made;
    DeleteText(made);  // another thread made it first
    return *text;
}

void XmlElem::StoreText(std::string&& text) {
    std::string* own = textString_.load(std::memory_order_relaxed);
    if (own) {
        *own = std::move(text);
    } else {
        own = NewText(std::move(text));
        textString_.store(own, std::memory_order_release);
    }
    textData_ = nullptr;
    textSize_ = 0;
}

void XmlElem::AppendText(const char* data, std::size_t size) {
    std::string text(GetTextView());
    text.append(data, size);
    StoreText(std::move(text));
}

std::int32_t XmlElem::GetTextAsInt() const {
    return ReadAs<std::int32_t>(GetTextView());
}
float XmlElem::GetTextAsFloat() const {
    return ReadAs<float>(GetTextView());
}
double XmlElem::GetTextAsDouble() const {
    return ReadAs<double>(GetTextView());
}
std::int64_t XmlElem::GetTextAsInt64() const {
    return ReadAs<std::int64_t>(GetTextView());
}
std::uint32_t XmlElem::GetTextAsHex() const {
    return ReadHex(GetTextView());
}
Location XmlElem::GetTextAsLocation() const {
    return ReadAs<Location>(GetTextView());
}
DPoint3D XmlElem::GetTextAsDPoint3D() const {
    return ReadAs<DPoint3D>(GetTextView());
}
DPoint2D XmlElem::GetTextAsDPoint2D() const {
    return ReadAs<DPoint2D>(GetTextView());
}
FPoint3D XmlElem::GetTextAsFPoint3D() const {
    return ReadAs<FPoint3D>(GetTextView());
}
DVec2 XmlElem::GetTextAsDVec2() const {
    return ReadAs<DVec2>(GetTextView());
}
DVec3 XmlElem::GetTextAsDVec3() const {
    return ReadAs<DVec3>(GetTextView());
}
FVec3 XmlElem::GetTextAsFVec3() const {
    return ReadAs<FVec3>(GetTextView());
}
Quaternion<float> XmlElem::GetTextAsQuaternion() const {
    return ReadAs<Quaternion<float>>(GetTextView());
}
bool XmlElem::GetTextAsBool() const {
    return ReadAs<bool>(GetTextView());
}

void XmlElem::OwnAttributeNames() noexcept {
    for (auto& attribute : attributes_) {
        Symbol owned(attribute.first);
        attribute.first.Forget();
        attribute.first = std::move(owned);
    }
    lentAttributeNames_ = false;
}

void XmlElem::SetAttribute(const Symbol& name, const std::string& value) {
    std::size_t index = FindAttribute(name);
    if (index == npos) {
        if (lentAttributeNames_)
            OwnAttributeNames();
        attributes_.emplace_back(name, value);
    } else {
        attributes_[index].second = value;
    }
}

void XmlElem::SetAttribute(const Symbol& name, std::uint32_t count) {
    SetAttribute(name, TextOf(static_cast<std::int64_t>(count)));
}

void XmlElem::AddChild(XmlElem* child) {
    if (!child)
        return;
    child->parent_ = this;
    children_.emplace_back(child);
}

void XmlElem::SetText(const std::string& value) {
    StoreText(std::string(value));
}
void XmlElem::SetText(std::int32_t value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(float value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(double value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(std::int64_t value) {
    StoreText(TextOf(value));
}
void XmlElem::SetTextAsHex(std::uint32_t value) {
    std::string text;
    AppendHexText(text, value);
    StoreText(std::move(text));
}
void XmlElem::SetText(const Location& value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(const DPoint3D& value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(const DPoint2D& value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(const FPoint3D& value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(const DVec2& value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(const DVec3& value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(const FVec3& value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(const Quaternion<float>& value) {
    StoreText(TextOf(value));
}
void XmlElem::SetText(bool value) {
    StoreText(TextOf(value));
}

namespace {

// An element in a record of the pool: delete, through the virtual destructor, frees the record.
class PooledElem final : public XmlElem {
public:
    using XmlElem::XmlElem;

    static void* operator new(std::size_t size) { return xml_records::Allocate(size); }
    static void operator delete(void* record, std::size_t size) noexcept {
        xml_records::Free(record, size);
    }
};

}  // namespace

XmlElem* NewXmlElem(const Symbol& name, bool /*reserved*/) {
    return new PooledElem(name);
}

void FreeXml(XmlElem* root) {
    delete root;
}
