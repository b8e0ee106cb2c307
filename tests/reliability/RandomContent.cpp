#include "RandomContent.h"

#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "geometry/Image.h"
#include "geometry/MeshBuilder.h"
#include "geometry/ValueComponents.h"
#include "kestrel/values/ValueTraits.h"
#include "utilities/Utf8.h"

namespace randomcontent {

namespace {

// What each target leaves out, and why:
//  - Xml: U+0000, the other control characters but tab, LF and CR, and U+FFFE and U+FFFF in
//    strings (XML 1.0 cannot carry them: the tree holds the U+FFFD the writer puts for them);
//    element names outside XML name characters and nested ones named "property" or
//    "property_array" (refused, or read back as properties); properties on the top element (the
//    root of a file has none); types content files have no name for, and null shapes and images
//    and shape lists (not written, or loaded back as separate shapes).
//  - both: bytes that are not UTF-8 (a content file is UTF-8, and JSON replaces them).
//  - Json: shapes whose first mesh uses a vertex past the pool, which reading refuses.
class Generator {
public:
    Generator(std::uint64_t seed, Target target)
        : random_(seed), target_(target), adders_(Adders(target)) {}

    SmartPtr<SerializedContentElement> Tree() {
        const Symbol topName = target_ == Target::Xml ? Symbol("figure") : Symbol(Text(false));
        SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement(topName));
        if (target_ == Target::Json)
            AddProperties(top.get());
        // Mostly small bushy trees; now and then a long chain or one very wide level.
        const std::uint64_t form = Below(100);
        if (form < 3) {
            SerializedContentElement* at = top.get();
            const std::uint64_t depth = 20 + Below(200);
            for (std::uint64_t i = 0; i < depth; ++i) {
                at = at->StartContent(ElementName(at == top.get()));
                if (Below(4) == 0)
                    AddProperties(at);
            }
        } else if (form < 6) {
            const std::uint64_t width = 50 + Below(150);
            for (std::uint64_t i = 0; i < width; ++i) {
                SerializedContentElement* child = top->StartContent(ElementName(true));
                if (Below(8) == 0)
                    AddProperties(child);
            }
        } else {
            Fill(top.get(), 1 + Below(4));
        }
        return top;
    }

private:
    using PropertyAdder = void (Generator::*)(SerializedContentElement*, const Symbol&);

    std::uint64_t Next() { return random_(); }
    // A number in [0, n), n > 0.
    std::uint64_t Below(std::uint64_t n) { return Next() % n; }
    bool OneIn(std::uint64_t n) { return Below(n) == 0; }

    // Children and properties below element, down to depth more levels.
    void Fill(SerializedContentElement* element, std::uint64_t depth) {
        struct Pending {
            SerializedContentElement* element;
            std::uint64_t depth;
        };
        std::vector<Pending> pending{{element, depth}};
        std::uint64_t budget = 16;  // elements per tree, so that thousands run in seconds
        while (!pending.empty()) {
            auto [at, levels] = pending.back();
            pending.pop_back();
            if (at->GetParent())
                AddProperties(at);
            if (levels == 0)
                continue;
            const std::uint64_t children = Below(5);
            for (std::uint64_t i = 0; i < children && budget > 0; ++i, --budget) {
                SerializedContentElement* child = at->StartContent(ElementName(!at->GetParent()));
                pending.push_back({child, levels - 1});
            }
        }
    }

    void AddProperties(SerializedContentElement* element) {
        const std::uint64_t count = Below(5);
        for (std::uint64_t i = 0; i < count; ++i) {
            const Symbol name(Text(false));
            (this->*adders_[Below(adders_.size())])(element, name);
        }
    }

    // ---- texts ----

    // Whether a character beyond ASCII may stand in an XML name (after its first character).
    static bool IsXmlNameCharacter(std::uint32_t c) {
        return c == 0xB7 || (c >= 0xC0 && c <= 0x2FF && c != 0xD7 && c != 0xF7) ||
               (c >= 0x300 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C ||
               c == 0x200D || c == 0x203F || c == 0x2040 || (c >= 0x2070 && c <= 0x218F) ||
               (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
               (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
               (c >= 0x10000 && c <= 0xEFFFF);
    }

    // A character beyond ASCII: any scalar value but the surrogates.
    std::uint32_t NonAscii() {
        switch (Below(4)) {
            case 0:
                return 0x80 + static_cast<std::uint32_t>(Below(0x800 - 0x80));
            case 1: {
                std::uint32_t code = 0x800 + static_cast<std::uint32_t>(Below(0x10000 - 0x800));
                return code >= 0xD800 && code <= 0xDFFF ? code + 0x800 : code;
            }
            case 2:
                return 0x10000 + static_cast<std::uint32_t>(Below(0x110000 - 0x10000));
            default: {
                static constexpr std::uint32_t kAwkward[] = {0xFEFF, 0xFFFD, 0x85,    0x2028,
                                                             0xE9,   0x65E5, 0x1F600, 0x10FFFF};
                return kAwkward[Below(std::size(kAwkward))];
            }
        }
    }

    // A name or string value: empty, short or long, mixing plain letters with markup characters,
    // white space, control characters, references as text and characters beyond ASCII.
    std::string Text(bool allowNul) {
        static constexpr std::string_view kPieces[] = {
            "<",    ">",   "&",     "\"",    "'",    " ",           "\t",       "\n",   "\r",
            "\r\n", "]]>", "&amp;", "&#10;", "&#0;", "&unknown;",   "<!--",     "-->",  "<![CDATA[",
            ":",    "::",  "%s",    "\\",    "=",    "kestrel_sc:", "property", "\x7f", "&#x;"};
        std::string out;
        const std::uint64_t form = Below(20);
        if (form == 0)
            return out;
        if (form == 1) {  // only white space, which readers tend to drop as layout
            static constexpr char kBlanks[] = {' ', '\t', '\n', '\r'};
            const std::uint64_t n = 1 + Below(4);
            for (std::uint64_t i = 0; i < n; ++i)
                out += kBlanks[Below(4)];
            return out;
        }
        const std::uint64_t length = form == 2 && OneIn(3) ? 200 + Below(1000) : Below(12);
        while (out.size() < length) {
            switch (Below(6)) {
                case 0:
                    out += kPieces[Below(std::size(kPieces))];
                    break;
                case 1: {
                    const auto control = static_cast<std::uint32_t>(Below(32));
                    if (control == 0 && !allowNul)
                        break;
                    if (target_ == Target::Xml && control != '\t' && control != '\n' &&
                        control != '\r')
                        AppendUtf8(out, 0xFFFD);
                    else
                        out += static_cast<char>(control);
                    break;
                }
                case 2: {
                    const std::uint32_t code = NonAscii();
                    AppendUtf8(out, target_ == Target::Xml && code >= 0xFFFE && code <= 0xFFFF
                                        ? 0xFFFD
                                        : code);
                    break;
                }
                default:
                    out += static_cast<char>(0x20 + Below(0x5F));
            }
        }
        return out;
    }

    // An element name. For files: XML name characters only, and never a name that would turn
    // into a property element below the top level.
    Symbol ElementName(bool topLevel) {
        if (target_ == Target::Json)
            return Symbol(Text(true));
        static constexpr std::string_view kAscii =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-:";
        static constexpr std::string_view kNames[] = {
            "", ":", "property", "property_array", "Property", "a:b:c", "kestrel_sc:x"};
        for (;;) {
            std::string name;
            const std::uint64_t form = Below(10);
            if (form == 0) {
                name = kNames[Below(std::size(kNames))];
            } else {
                const std::uint64_t length = form == 1 ? 100 + Below(300) : Below(10);
                while (name.size() < length) {
                    if (OneIn(5)) {
                        const std::uint32_t code = NonAscii();
                        if (IsXmlNameCharacter(code))
                            AppendUtf8(name, code);
                    } else
                        name += kAscii[Below(kAscii.size())];
                }
            }
            if (topLevel || (name != "property" && name != "property_array"))
                return Symbol(name);
        }
    }

    // ---- values ----

    template <class T>
    T Integer() {
        using Limits = std::numeric_limits<T>;
        switch (Below(4)) {
            case 0: {
                const T special[] = {T(0), T(1), static_cast<T>(-1), Limits::min(), Limits::max()};
                return special[Below(std::size(special))];
            }
            case 1:
                return static_cast<T>(static_cast<std::int64_t>(Below(201)) - 100);
            default:
                return static_cast<T>(Next());
        }
    }

    // Any bits at all, NaN payloads, signs of zero and subnormals included: the text form keeps
    // every one of them.
    template <class F>
    F Real() {
        using Bits = std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>;
        using Limits = std::numeric_limits<F>;
        switch (Below(5)) {
            case 0: {
                // clang-format off
                const F special[] = {F(0), -F(0), Limits::infinity(), -Limits::infinity(),
                                     Limits::quiet_NaN(), -Limits::quiet_NaN(),
                                     Limits::signaling_NaN(), Limits::denorm_min(),
                                     -Limits::denorm_min(), Limits::min(), Limits::max(),
                                     Limits::lowest(), Limits::epsilon(), F(0.1), F(1) / F(3)};
                // clang-format on
                return special[Below(std::size(special))];
            }
            case 1:  // short decimals, the common case in real files
                return static_cast<F>(
                    static_cast<double>(static_cast<std::int64_t>(Below(20001)) - 10000) / 100.0);
            case 2: {  // NaNs with random payloads and either sign
                const Bits exponent =
                    sizeof(F) == 4 ? Bits(0x7F800000u) : Bits(0x7FF0000000000000u);
                const Bits fractionBits =
                    sizeof(F) == 4 ? Bits(0x007FFFFFu) : Bits(0x000FFFFFFFFFFFFFu);
                const Bits fraction = static_cast<Bits>(Next()) & fractionBits;
                const Bits sign = OneIn(2) ? Bits(Bits{1} << (sizeof(F) * 8 - 1)) : Bits{0};
                return std::bit_cast<F>(
                    Bits(sign | exponent | (fraction == 0 ? Bits{1} : fraction)));
            }
            default:
                return std::bit_cast<F>(static_cast<Bits>(Next()));
        }
    }

    template <class T>
    T Value() {
        if constexpr (std::is_same_v<T, bool>) {
            return OneIn(2);
        } else if constexpr (std::is_integral_v<T>) {
            return Integer<T>();
        } else if constexpr (std::is_floating_point_v<T>) {
            return Real<T>();
        } else if constexpr (std::is_same_v<T, Symbol>) {
            return Symbol(Text(target_ == Target::Json));
        } else if constexpr (std::is_same_v<T, Color>) {
            return Color(static_cast<unsigned int>(Next()));
        } else if constexpr (std::is_same_v<T, DHex>) {
            return DHex{Next()};
        } else if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
            return RandomShape();
        } else if constexpr (std::is_same_v<T, SmartPtr<Image>>) {
            return RandomImage();
        } else {
            T value{};
            for (auto* component : Components(value))
                *component = Real<std::remove_pointer_t<decltype(component)>>();
            return value;
        }
    }

    // A mesh of up to a dozen vertices with any coordinate bits. Files keep indices as they are,
    // past the pool included; JSON takes only indices of existing vertices.
    SmartPtr<Shape> RandomShape() {
        if (target_ == Target::Json && OneIn(20))
            return SmartPtr<Shape>();
        const std::uint64_t vertices = Below(13);
        std::vector<float> positions;
        for (std::uint64_t i = 0; i < vertices * 3; ++i)
            positions.push_back(Real<float>());
        std::vector<std::uint32_t> indices;
        if (vertices > 0 || target_ == Target::Xml) {
            const std::uint64_t triangles = Below(9);
            for (std::uint64_t i = 0; i < triangles * 3; ++i) {
                if (target_ == Target::Xml && (vertices == 0 || OneIn(30)))
                    indices.push_back(static_cast<std::uint32_t>(Next()));
                else
                    indices.push_back(static_cast<std::uint32_t>(Below(vertices)));
            }
        }
        return MakeMeshShape(positions, indices);
    }

    SmartPtr<Image> RandomImage() {
        if (target_ == Target::Json && OneIn(20))
            return SmartPtr<Image>();
        const auto width = static_cast<std::uint32_t>(1 + Below(7));
        const auto height = static_cast<std::uint32_t>(1 + Below(7));
        SmartPtr<Image> image(
            new Image(width, height, OneIn(2) ? PixelFormat::RGBA8 : PixelFormat::RGB8));
        for (std::size_t i = 0; i < image->GetPixelBytes(); ++i)
            image->GetPixels()[i] = static_cast<std::uint8_t>(Next());
        return image;
    }

    template <class T>
    void AddSingle(SerializedContentElement* element, const Symbol& name) {
        element->AddPropertyValue(name, PropertyValue(std::in_place_type<T>, Value<T>()));
    }

    template <class T>
    void AddArray(SerializedContentElement* element, const Symbol& name) {
        std::vector<T> values;
        const std::uint64_t count = OneIn(10) ? 0 : Below(OneIn(30) ? 60 : 6);
        for (std::uint64_t i = 0; i < count; ++i)
            values.push_back(Value<T>());
        element->AddPropertyValue(name, PropertyValue(std::move(values)));
    }

    // Every type content files give back as it was (Target::Xml) or every type (Json), from the
    // value table. Shape lists are written, but load as separate shape properties.
    static std::vector<PropertyAdder> Adders(Target target) {
        std::vector<PropertyAdder> list;
        kestrel::values::ForEachType([&]<class T>() {
            if (target == Target::Json || (kestrel::values::ValueTraits<T>::xmlCarries &&
                                           !std::is_same_v<T, std::vector<SmartPtr<Shape>>>))
                list.push_back(&Generator::AddAlternative<T>);
        });
        return list;
    }

    template <class T>
    void AddAlternative(SerializedContentElement* element, const Symbol& name) {
        using Traits = kestrel::values::ValueTraits<T>;
        if constexpr (Traits::isArray)
            AddArray<typename Traits::Item>(element, name);
        else
            AddSingle<T>(element, name);
    }

    std::mt19937_64 random_;
    Target target_;
    std::vector<PropertyAdder> adders_;
};

}  // namespace

SmartPtr<SerializedContentElement> RandomTree(std::uint64_t seed, Target target) {
    return Generator(seed, target).Tree();
}

}  // namespace randomcontent
