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
T ReadAs(const std::string& text) {
    T value{};
    ParseValueText(text, value);
    return value;
}

std::uint32_t ReadHex(const std::string& text) {
    std::uint32_t value = 0;
    ParseHexText(text, value);
    return value;
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
    DestroySubtree();
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
    return text_;
}

std::int32_t XmlElem::GetTextAsInt() const {
    return ReadAs<std::int32_t>(text_);
}
float XmlElem::GetTextAsFloat() const {
    return ReadAs<float>(text_);
}
double XmlElem::GetTextAsDouble() const {
    return ReadAs<double>(text_);
}
std::int64_t XmlElem::GetTextAsInt64() const {
    return ReadAs<std::int64_t>(text_);
}
std::uint32_t XmlElem::GetTextAsHex() const {
    return ReadHex(text_);
}
Location XmlElem::GetTextAsLocation() const {
    return ReadAs<Location>(text_);
}
DPoint3D XmlElem::GetTextAsDPoint3D() const {
    return ReadAs<DPoint3D>(text_);
}
DPoint2D XmlElem::GetTextAsDPoint2D() const {
    return ReadAs<DPoint2D>(text_);
}
FPoint3D XmlElem::GetTextAsFPoint3D() const {
    return ReadAs<FPoint3D>(text_);
}
DVec2 XmlElem::GetTextAsDVec2() const {
    return ReadAs<DVec2>(text_);
}
DVec3 XmlElem::GetTextAsDVec3() const {
    return ReadAs<DVec3>(text_);
}
FVec3 XmlElem::GetTextAsFVec3() const {
    return ReadAs<FVec3>(text_);
}
Quaternion<float> XmlElem::GetTextAsQuaternion() const {
    return ReadAs<Quaternion<float>>(text_);
}
bool XmlElem::GetTextAsBool() const {
    return ReadAs<bool>(text_);
}

void XmlElem::SetAttribute(const Symbol& name, const std::string& value) {
    std::size_t index = FindAttribute(name);
    if (index == npos) {
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
    text_ = value;
}
void XmlElem::SetText(std::int32_t value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(float value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(double value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(std::int64_t value) {
    text_ = TextOf(value);
}
void XmlElem::SetTextAsHex(std::uint32_t value) {
    text_.clear();
    AppendHexText(text_, value);
}
void XmlElem::SetText(const Location& value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(const DPoint3D& value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(const DPoint2D& value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(const FPoint3D& value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(const DVec2& value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(const DVec3& value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(const FVec3& value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(const Quaternion<float>& value) {
    text_ = TextOf(value);
}
void XmlElem::SetText(bool value) {
    text_ = TextOf(value);
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
