// kestrel_sc._core: the kestrel library for Python. Trees, values and errors cross here; the
// Pythonic surface (exception classes, value tuples, type inference) is kestrel_sc/__init__.py.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "geometry/MeshBuilder.h"
#include "kestrel/edit/ContentEdit.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/load/Content.h"
#include "kestrel/meshes/MeshFiles.h"
#include "kestrel/paths/ContentPath.h"
#include "kestrel/values/ValueFormat.h"
#include "kestrel/values/ValueTraits.h"

namespace py = pybind11;
using Element = SerializedContentElement;

namespace {

// A library error on its way to Python; kind picks the Python base class beside
// kestrel_sc.Error ("TypeError", "ValueError", "KeyError", "IndexError" or empty for the code's).
struct ContentError {
    kestrel::Error error;
    std::string kind;
};

[[noreturn]] void Fail(kestrel::Error::Code code, std::string message, std::string kind = {}) {
    kestrel::Error error;
    error.code = code;
    error.message = std::move(message);
    throw ContentError{std::move(error), std::move(kind)};
}

[[noreturn]] void FailType(std::string message) {
    Fail(kestrel::Error::InvalidArgument, std::move(message), "TypeError");
}

void Check(kestrel::Error error, std::string kind = {}) {
    if (error)
        throw ContentError{std::move(error), std::move(kind)};
}

const char* CodeName(kestrel::Error::Code code) {
    switch (code) {
        case kestrel::Error::None:
            return "None";
        case kestrel::Error::InvalidArgument:
            return "InvalidArgument";
        case kestrel::Error::NotFound:
            return "NotFound";
        case kestrel::Error::NotRegularFile:
            return "NotRegularFile";
        case kestrel::Error::Unreadable:
            return "Unreadable";
        case kestrel::Error::Malformed:
            return "Malformed";
        case kestrel::Error::Invalid:
            return "Invalid";
        case kestrel::Error::ModuleUnavailable:
            return "ModuleUnavailable";
        case kestrel::Error::LoadFailed:
            return "LoadFailed";
        case kestrel::Error::NotSavable:
            return "NotSavable";
        case kestrel::Error::WriteFailed:
            return "WriteFailed";
        case kestrel::Error::Cancelled:
            return "Cancelled";
        case kestrel::Error::Internal:
            return "Internal";
    }
    return "Internal";
}

// What kestrel_sc/__init__.py registers: the exception factory and the value tuple classes.
struct Registry {
    py::object errorFactory;
    py::dict classes;  // type name ("color", "dpoint3d", "location", ...) -> class
};
Registry& TheRegistry() {
    // Left alive at exit: Python objects must not be released after the interpreter is gone.
    static Registry* registry = new Registry;
    return *registry;
}
py::object ClassOf(const char* typeName) {
    return TheRegistry().classes[typeName];
}

// What the handles of one tree keep alive: its top element, and the subtrees taken out of it,
// which handles made before the removal may still reach.
struct TreeHolder {
    SmartPtr<Element> top;
    std::vector<SmartPtr<Element>> removed;
};
using Tree = std::shared_ptr<TreeHolder>;

// An element and the tree that keeps it alive.
struct ElementRef {
    Tree tree;
    Element* element = nullptr;
};

ElementRef RefOf(Element* element, const Tree& tree) {
    return {tree, element};
}

ElementRef NewTop(SmartPtr<Element> top) {
    Element* element = top.get();
    return {std::make_shared<TreeHolder>(TreeHolder{std::move(top), {}}), element};
}

// A property of an element, by its index there.
struct PropertyRef {
    ElementRef owner;
    std::size_t index = 0;

    Element::Property& Get() const {
        auto& properties = owner.element->GetProperties();
        if (index >= properties.size())
            Fail(kestrel::Error::InvalidArgument,
                 "property " + std::to_string(index) + " of '" +
                     kestrel::paths::PathOf(*owner.element) + "' no longer exists",
                 "IndexError");
        return const_cast<Element::Property&>(properties[index]);
    }
};

struct ShapeRef {
    SmartPtr<Shape> shape;
};

// ---- values to Python ----

template <class T>
py::array NumpyCopy(const std::vector<T>& items) {
    py::array_t<T> out(static_cast<py::ssize_t>(items.size()));
    if (!items.empty())
        std::memcpy(out.mutable_data(), items.data(), items.size() * sizeof(T));
    return out;
}

py::array BoolArray(const std::vector<bool>& items) {
    py::array_t<bool> out(static_cast<py::ssize_t>(items.size()));
    bool* data = out.mutable_data();
    for (std::size_t i = 0; i < items.size(); ++i)
        data[i] = items[i];
    return out;
}

py::object ImageArray(const SmartPtr<Image>& image) {
    if (!image)
        return py::none();
    const auto channels = static_cast<py::ssize_t>(BytesPerPixel(image->GetFormat()));
    const auto width = static_cast<py::ssize_t>(image->GetWidth());
    const auto height = static_cast<py::ssize_t>(image->GetHeight());
    // The array views the image's pixels; the capsule holds a reference on the image.
    py::capsule keeper(new SmartPtr<Image>(image),
                       [](void* held) { delete static_cast<SmartPtr<Image>*>(held); });
    return py::array(py::dtype::of<std::uint8_t>(), {height, width, channels},
                     {width * channels, channels, py::ssize_t{1}}, image->GetPixels(), keeper);
}

py::object ShapeObject(const SmartPtr<Shape>& shape) {
    if (!shape)
        return py::none();
    return py::cast(ShapeRef{shape});
}

template <class T>
py::object CompoundObject(T value) {
    using Traits = kestrel::values::ValueTraits<T>;
    auto parts = Components(value);
    if constexpr (std::is_same_v<T, Location>) {
        py::object point = ClassOf("dpoint3d")(parts[0][0], *parts[1], *parts[2]);
        py::object rotation = ClassOf("quat")(*parts[3], *parts[4], *parts[5], *parts[6]);
        return ClassOf("location")(point, rotation, *parts[7]);
    } else {
        py::tuple args(parts.size());
        for (std::size_t i = 0; i < parts.size(); ++i)
            args[i] = py::float_(static_cast<double>(*parts[i]));
        return ClassOf(std::string(Traits::typeName).c_str())(*args);
    }
}

py::object ColorObject(const Color& color) {
    return ClassOf("color")(color.Red(), color.Green(), color.Blue(), color.Alpha());
}

template <class T>
py::object ToPython(const T& value) {
    using Traits = kestrel::values::ValueTraits<T>;
    if constexpr (Traits::isArray) {
        using Item = typename Traits::Item;
        using ItemTraits = kestrel::values::ValueTraits<Item>;
        if constexpr (std::is_same_v<Item, bool>) {
            return BoolArray(value);
        } else if constexpr (std::is_arithmetic_v<Item>) {
            return NumpyCopy(value);
        } else if constexpr (std::is_same_v<Item, DHex>) {
            py::array_t<std::uint64_t> out(static_cast<py::ssize_t>(value.size()));
            for (std::size_t i = 0; i < value.size(); ++i)
                out.mutable_data()[i] = value[i].value;
            return out;
        } else if constexpr (ItemTraits::isCompound) {
            using Real = typename ItemTraits::Real;
            constexpr auto count = static_cast<py::ssize_t>(ItemTraits::components);
            py::array_t<Real> out({static_cast<py::ssize_t>(value.size()), count});
            Real* data = out.mutable_data();
            for (Item item : value)
                for (Real* part : Components(item))
                    *data++ = *part;
            return out;
        } else {
            py::list out;
            for (const Item& item : value)
                out.append(ToPython(item));
            return out;
        }
    } else if constexpr (std::is_same_v<T, bool>) {
        return py::bool_(value);
    } else if constexpr (Traits::isInteger) {
        return py::int_(value);
    } else if constexpr (std::is_floating_point_v<T>) {
        return py::float_(static_cast<double>(value));
    } else if constexpr (std::is_same_v<T, Symbol>) {
        return py::str(value.view().data(), value.view().size());
    } else if constexpr (std::is_same_v<T, Color>) {
        return ColorObject(value);
    } else if constexpr (std::is_same_v<T, DHex>) {
        return py::int_(value.value);
    } else if constexpr (Traits::isCompound) {
        return CompoundObject(value);
    } else if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
        return ShapeObject(value);
    } else {
        static_assert(std::is_same_v<T, SmartPtr<Image>>);
        return ImageArray(value);
    }
}

py::object ValueToPython(const PropertyValue& value) {
    return std::visit([](const auto& held) { return ToPython(held); }, value);
}

// ---- values from Python ----

std::string TypeNameOf(py::handle object) {
    return py::str(py::type::handle_of(object).attr("__name__"));
}

bool IsNumpyBool(py::handle object) {
    return TypeNameOf(object) == "bool_" || TypeNameOf(object) == "bool";
}

template <class T>
T IntegerFrom(py::handle object, std::string_view typeName) {
    if (PyBool_Check(object.ptr()) || !PyIndex_Check(object.ptr()))
        FailType(std::string(typeName) + " takes an int, not " + TypeNameOf(object));
    py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(object.ptr()));
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow == 0 && value >= static_cast<long long>(std::numeric_limits<T>::min()) &&
        (value < 0 || static_cast<unsigned long long>(value) <=
                          static_cast<unsigned long long>(std::numeric_limits<T>::max())))
        return static_cast<T>(value);
    if (overflow > 0 && std::is_same_v<T, std::uint64_t>) {
        const unsigned long long big = PyLong_AsUnsignedLongLong(number.ptr());
        if (!PyErr_Occurred())
            return static_cast<T>(big);
        PyErr_Clear();
    }
    Fail(kestrel::Error::InvalidArgument,
         py::str(number).cast<std::string>() + " is out of the range of " + std::string(typeName),
         "OverflowError");
}

double RealFrom(py::handle object, std::string_view typeName) {
    if (PyBool_Check(object.ptr()) || PyUnicode_Check(object.ptr()) ||
        !(PyFloat_Check(object.ptr()) || PyNumber_Check(object.ptr())))
        FailType(std::string(typeName) + " takes a number, not " + TypeNameOf(object));
    const double value = PyFloat_AsDouble(object.ptr());
    if (value == -1.0 && PyErr_Occurred())
        throw py::error_already_set();
    return value;
}

py::sequence SequenceFrom(py::handle object, std::string_view typeName, std::size_t size = 0) {
    if (PyUnicode_Check(object.ptr()) || !PySequence_Check(object.ptr()))
        FailType(std::string(typeName) + " takes a sequence, not " + TypeNameOf(object));
    auto sequence = py::reinterpret_borrow<py::sequence>(object);
    if (size && sequence.size() != size)
        FailType(std::string(typeName) + " takes " + std::to_string(size) + " items, not " +
                 std::to_string(sequence.size()));
    return sequence;
}

Color ColorFrom(py::handle object) {
    if (PyUnicode_Check(object.ptr())) {
        const std::string text = object.cast<std::string>();
        unsigned value = 0;
        const bool hex =
            (text.size() == 7 || text.size() == 9) && text[0] == '#' &&
            std::from_chars(text.data() + 1, text.data() + text.size(), value, 16).ptr ==
                text.data() + text.size();
        if (!hex)
            Fail(kestrel::Error::InvalidArgument,
                 "'" + text + "' is not a colour of the form #rrggbb or #rrggbbaa", "ValueError");
        return text.size() == 7 ? Color(value << 8 | 0xFF) : Color(value);
    }
    py::sequence parts = SequenceFrom(object, "color");
    if (parts.size() != 3 && parts.size() != 4)
        FailType("color takes 3 or 4 channels, not " + std::to_string(parts.size()));
    std::uint8_t channels[4] = {0, 0, 0, 255};
    for (std::size_t i = 0; i < parts.size(); ++i)
        channels[i] = IntegerFrom<std::uint8_t>(parts[i], "a color channel");
    return Color(channels[0], channels[1], channels[2], channels[3]);
}

template <class T>
T CompoundFrom(py::handle object) {
    using Traits = kestrel::values::ValueTraits<T>;
    using Real = typename Traits::Real;
    T value{};
    auto parts = Components(value);
    if constexpr (std::is_same_v<T, Location>) {
        py::sequence outer = SequenceFrom(object, "location", 3);
        py::sequence position = SequenceFrom(outer[0], "a location's position", 3);
        py::sequence rotation = SequenceFrom(outer[1], "a location's rotation", 4);
        for (std::size_t i = 0; i < 3; ++i)
            *parts[i] = RealFrom(position[i], "location");
        for (std::size_t i = 0; i < 4; ++i)
            *parts[3 + i] = RealFrom(rotation[i], "location");
        *parts[7] = RealFrom(outer[2], "location");
    } else {
        py::sequence items = SequenceFrom(object, Traits::typeName, parts.size());
        for (std::size_t i = 0; i < parts.size(); ++i)
            *parts[i] = static_cast<Real>(RealFrom(items[i], Traits::typeName));
    }
    return value;
}

SmartPtr<Image> ImageFrom(py::handle object) {
    if (!py::isinstance<py::array>(object))
        FailType("image takes a uint8 array of shape (H, W, 4) or (H, W, 3), not " +
                 TypeNameOf(object));
    auto array = py::reinterpret_borrow<py::array>(object);
    if (!array.dtype().is(py::dtype::of<std::uint8_t>()) || array.ndim() != 3 ||
        (array.shape(2) != 3 && array.shape(2) != 4))
        FailType("image takes a uint8 array of shape (H, W, 4) or (H, W, 3), not " +
                 py::str(array.dtype()).cast<std::string>() + " " +
                 py::str(array.attr("shape")).cast<std::string>());
    if (array.shape(0) > 0xFFFFFFFF || array.shape(1) > 0xFFFFFFFF)
        Fail(kestrel::Error::InvalidArgument, "image is too large", "ValueError");
    auto pixels = py::array_t<std::uint8_t, py::array::c_style>::ensure(array);
    SmartPtr<Image> image(new Image(static_cast<std::uint32_t>(array.shape(1)),
                                    static_cast<std::uint32_t>(array.shape(0)),
                                    array.shape(2) == 4 ? PixelFormat::RGBA8 : PixelFormat::RGB8));
    if (image->GetPixelBytes())
        std::memcpy(image->GetPixels(), pixels.data(), image->GetPixelBytes());
    return image;
}

template <class T>
T FromPython(py::handle object);

// Arrays of numbers come as NumPy arrays of exactly their dtype or as sequences of items.
template <class Item>
std::vector<Item> ArrayFrom(py::handle object) {
    using ItemTraits = kestrel::values::ValueTraits<Item>;
    constexpr auto name = kestrel::values::ValueTraits<std::vector<Item>>::typeName;
    std::vector<Item> items;
    if (py::isinstance<py::array>(object)) {
        auto array = py::reinterpret_borrow<py::array>(object);
        if constexpr (std::is_arithmetic_v<Item> && !std::is_same_v<Item, bool>) {
            if (!array.dtype().is(py::dtype::of<Item>()) || array.ndim() != 1)
                FailType(std::string(name) + " takes a 1-D " +
                         py::str(py::dtype::of<Item>()).cast<std::string>() + " array, not " +
                         py::str(array.dtype()).cast<std::string>() + " of " +
                         std::to_string(array.ndim()) + " dimensions");
            auto exact = py::array_t<Item, py::array::c_style>::ensure(array);
            items.assign(exact.data(), exact.data() + exact.size());
            return items;
        } else if constexpr (ItemTraits::isCompound) {
            using Real = typename ItemTraits::Real;
            const auto count = static_cast<py::ssize_t>(ItemTraits::components);
            if (!array.dtype().is(py::dtype::of<Real>()) || array.ndim() != 2 ||
                array.shape(1) != count)
                FailType(std::string(name) + " takes an (N, " + std::to_string(count) + ") " +
                         py::str(py::dtype::of<Real>()).cast<std::string>() + " array, not " +
                         py::str(array.dtype()).cast<std::string>() + " " +
                         py::str(array.attr("shape")).cast<std::string>());
            auto exact = py::array_t<Real, py::array::c_style>::ensure(array);
            const Real* data = exact.data();
            items.resize(static_cast<std::size_t>(array.shape(0)));
            for (Item& item : items)
                for (Real* part : Components(item))
                    *part = *data++;
            return items;
        } else if constexpr (std::is_same_v<Item, bool>) {
            if (array.dtype().kind() != 'b' || array.ndim() != 1)
                FailType(std::string(name) + " takes a 1-D bool array");
            auto exact = py::array_t<bool, py::array::c_style>::ensure(array);
            items.assign(exact.data(), exact.data() + exact.size());
            return items;
        }
    }
    py::sequence sequence = SequenceFrom(object, name);
    items.reserve(sequence.size());
    for (py::handle item : sequence)
        items.push_back(FromPython<Item>(item));
    return items;
}

template <class T>
T FromPython(py::handle object) {
    using Traits = kestrel::values::ValueTraits<T>;
    if constexpr (Traits::isArray) {
        return ArrayFrom<typename Traits::Item>(object);
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!PyBool_Check(object.ptr()) && !IsNumpyBool(object))
            FailType("bool takes a bool, not " + TypeNameOf(object));
        return object.cast<bool>();
    } else if constexpr (Traits::isInteger) {
        return IntegerFrom<T>(object, Traits::typeName);
    } else if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(RealFrom(object, Traits::typeName));
    } else if constexpr (std::is_same_v<T, Symbol>) {
        if (!PyUnicode_Check(object.ptr()))
            FailType("string takes a str, not " + TypeNameOf(object));
        return Symbol(object.cast<std::string>());
    } else if constexpr (std::is_same_v<T, Color>) {
        return ColorFrom(object);
    } else if constexpr (std::is_same_v<T, DHex>) {
        return DHex{IntegerFrom<std::uint64_t>(object, "dhex")};
    } else if constexpr (Traits::isCompound) {
        return CompoundFrom<T>(object);
    } else if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
        if (object.is_none())
            return nullptr;
        if (!py::isinstance<ShapeRef>(object))
            FailType("shape takes a kestrel_sc.Shape or None, not " + TypeNameOf(object));
        return object.cast<const ShapeRef&>().shape;
    } else {
        static_assert(std::is_same_v<T, SmartPtr<Image>>);
        if (object.is_none())
            return nullptr;
        return ImageFrom(object);
    }
}

using FromPythonFunction = PropertyValue (*)(py::handle);
constexpr auto kFromPython = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<FromPythonFunction, sizeof...(I)>{[](py::handle object) {
        return PropertyValue(std::in_place_index<I>,
                             FromPython<std::variant_alternative_t<I, PropertyValue>>(object));
    }...};
}
(std::make_index_sequence<std::variant_size_v<PropertyValue>>());

std::size_t TypeIndex(const std::string& typeName) {
    const auto index = kestrel::values::IndexOfType(typeName);
    if (!index)
        Fail(kestrel::Error::InvalidArgument, "'" + typeName + "' is no property type",
             "ValueError");
    return *index;
}

PropertyValue ValueFromPython(py::handle object, std::size_t typeIndex) {
    return kFromPython[typeIndex](object);
}

// ---- elements ----

std::string ElementOutline(const Element& element, int depth, std::size_t& lines,
                           const std::string& indent) {
    constexpr std::size_t kMaxLines = 24;
    std::string out;
    auto line = [&](const std::string& text) {
        if (lines < kMaxLines)
            out += text + "\n";
        else if (lines == kMaxLines)
            out += indent + "...\n";
        ++lines;
    };
    for (const auto& property : element.GetProperties())
        line(indent + kestrel::values::PropertyLine(property, 4));
    for (std::size_t i = 0; i < element.GetChildCount(); ++i) {
        const Element& child = *element.GetChild(i);
        if (depth <= 0) {
            line(indent + std::string(child.GetName().view()) + " (" +
                 std::to_string(child.GetChildCount()) + " children, " +
                 std::to_string(child.GetProperties().size()) + " properties)");
        } else {
            line(indent + std::string(child.GetName().view()));
            out += ElementOutline(child, depth - 1, lines, indent + "  ");
        }
    }
    return out;
}

std::string Repr(const ElementRef& ref) {
    std::size_t lines = 0;
    std::string out = "<Element '" + kestrel::paths::PathOf(*ref.element) + "'>\n";
    out += ElementOutline(*ref.element, 2, lines, "  ");
    out.pop_back();
    return out;
}

py::list Children(const ElementRef& ref) {
    py::list out;
    for (std::size_t i = 0; i < ref.element->GetChildCount(); ++i)
        out.append(py::cast(RefOf(ref.element->GetChild(i), ref.tree)));
    return out;
}

py::list Properties(const ElementRef& ref) {
    py::list out;
    for (std::size_t i = 0; i < ref.element->GetProperties().size(); ++i)
        out.append(py::cast(PropertyRef{ref, i}));
    return out;
}

kestrel::paths::PathTarget ResolveOrFail(const ElementRef& ref, const std::string& path) {
    kestrel::paths::PathTarget target = kestrel::paths::Resolve(*ref.element, path);
    Check(target.error, "KeyError");
    return target;
}

py::object GetItem(const ElementRef& ref, py::handle key) {
    if (PyIndex_Check(key.ptr()) && !PyBool_Check(key.ptr())) {
        auto index = key.cast<std::int64_t>();
        const auto count = static_cast<std::int64_t>(ref.element->GetChildCount());
        if (index < 0)
            index += count;
        if (index < 0 || index >= count)
            Fail(kestrel::Error::InvalidArgument, "child index out of range", "IndexError");
        return py::cast(RefOf(ref.element->GetChild(static_cast<std::size_t>(index)), ref.tree));
    }
    if (!PyUnicode_Check(key.ptr()))
        FailType("elements are indexed by int or path str, not " + TypeNameOf(key));
    kestrel::paths::PathTarget target = ResolveOrFail(ref, key.cast<std::string>());
    if (target.property)
        return ValueToPython(target.property->value);
    return py::cast(RefOf(target.element, ref.tree));
}

PropertyRef AddProperty(const ElementRef& ref, const std::string& name, py::handle value,
                        const std::string& typeName) {
    PropertyValue converted = ValueFromPython(value, TypeIndex(typeName));
    ref.element->AddPropertyValue(Symbol(name), std::move(converted));
    return {ref, ref.element->GetProperties().size() - 1};
}

// Sets the property named by path ("a/b@name"): the first of that name takes value in its own
// type; a missing one is added with typeName.
void SetItem(const ElementRef& ref, const std::string& path, py::handle value,
             const std::string& typeName) {
    const std::size_t at = path.rfind('@');
    if (at == std::string::npos)
        FailType("only properties can be set: give a path with @name");
    kestrel::paths::PathTarget target = kestrel::paths::Resolve(*ref.element, path);
    if (target.property) {
        PropertyValue converted = ValueFromPython(value, target.property->value.index());
        Check(kestrel::edit::SetPropertyValue(*target.element, target.propertyIndex,
                                              std::move(converted)));
        return;
    }
    if (!target.element)
        Check(target.error, "KeyError");
    AddProperty(RefOf(target.element, ref.tree), path.substr(at + 1), value, typeName);
}

// Takes parent's child at index out of the tree. The subtree stays alive with the tree, since
// handles made earlier may point into it; the handle returned is its top.
ElementRef RemoveChildAt(const ElementRef& parent, std::size_t index) {
    kestrel::edit::RemovedChild removed = kestrel::edit::RemoveChild(*parent.element, index);
    Check(std::move(removed.error), "IndexError");
    Element* child = removed.element.get();
    parent.tree->removed.push_back(std::move(removed.element));
    return RefOf(child, parent.tree);
}

ElementRef RemoveChild(const ElementRef& ref, py::handle which) {
    if (py::isinstance<ElementRef>(which)) {
        const Element* child = which.cast<const ElementRef&>().element;
        for (std::size_t i = 0; i < ref.element->GetChildCount(); ++i) {
            if (ref.element->GetChild(i) == child)
                return RemoveChildAt(ref, i);
        }
        Fail(kestrel::Error::InvalidArgument,
             "'" + kestrel::paths::PathOf(*child) + "' is not a child of '" +
                 kestrel::paths::PathOf(*ref.element) + "'",
             "ValueError");
    }
    if (!PyIndex_Check(which.ptr()) || PyBool_Check(which.ptr()))
        FailType("a child is removed by int index or Element, not " + TypeNameOf(which));
    auto index = which.cast<std::int64_t>();
    if (index < 0)
        index += static_cast<std::int64_t>(ref.element->GetChildCount());
    if (index < 0)
        Fail(kestrel::Error::InvalidArgument, "child index out of range", "IndexError");
    return RemoveChildAt(ref, static_cast<std::size_t>(index));
}

// del element["a/b@name"] removes that property, del element["a/b"] that element.
void DelItem(const ElementRef& ref, const std::string& path) {
    kestrel::paths::PathTarget target = ResolveOrFail(ref, path);
    if (target.property) {
        Check(kestrel::edit::RemoveProperty(*target.element, target.propertyIndex));
        return;
    }
    Element* parent = target.element->GetParent();
    if (target.element == ref.element || !parent)
        Fail(kestrel::Error::InvalidArgument, "an element cannot remove itself", "ValueError");
    RemoveChild(RefOf(parent, ref.tree), py::cast(RefOf(target.element, ref.tree)));
}

ElementRef AddChild(const ElementRef& ref, const std::string& name) {
    if (name.empty() || name.find_first_of("/@") != std::string::npos)
        Fail(kestrel::Error::InvalidArgument,
             "'" + name + "' cannot be an element name (empty, or holding '/' or '@')",
             "ValueError");
    Element* child = ref.element->StartContent(Symbol(name));
    child->EndContent();
    return RefOf(child, ref.tree);
}

// ---- shapes ----

py::array VerticesOf(py::object self) {
    auto& ref = self.cast<ShapeRef&>();
    const kestrel::meshes::MeshView view = kestrel::meshes::ViewMesh(*ref.shape);
    const auto stride = static_cast<py::ssize_t>(view.stride * sizeof(float));
    return py::array(py::dtype::of<float>(),
                     {static_cast<py::ssize_t>(view.vertexCount), py::ssize_t{3}},
                     {stride, static_cast<py::ssize_t>(sizeof(float))}, view.positions, self);
}

py::array TrianglesOf(py::object self) {
    auto& ref = self.cast<ShapeRef&>();
    const kestrel::meshes::MeshView view = kestrel::meshes::ViewMesh(*ref.shape);
    py::array out(py::dtype::of<std::uint32_t>(),
                  {static_cast<py::ssize_t>(view.triangleCount), py::ssize_t{3}},
                  {static_cast<py::ssize_t>(3 * sizeof(std::uint32_t)),
                   static_cast<py::ssize_t>(sizeof(std::uint32_t))},
                  view.indices, self);
    // Indices stay as they are: a changed one could name a vertex that does not exist.
    py::detail::array_proxy(out.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return out;
}

ShapeRef MakeShape(py::handle vertices, py::handle triangles) {
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    auto take = [](py::handle object, const char* what, auto& out) {
        using Item = typename std::remove_reference_t<decltype(out)>::value_type;
        auto array = py::array_t<Item, py::array::c_style | py::array::forcecast>::ensure(object);
        if (!array || array.ndim() != 2 || array.shape(1) != 3)
            FailType(std::string(what) + " must be an (N, 3) array");
        out.assign(array.data(), array.data() + array.size());
    };
    take(vertices, "vertices", positions);
    take(triangles, "triangles", indices);
    const std::size_t count = positions.size() / 3;
    for (std::uint32_t index : indices) {
        if (index >= count)
            Fail(kestrel::Error::InvalidArgument,
                 "triangle index " + std::to_string(index) + " is not below the vertex count " +
                     std::to_string(count),
                 "ValueError");
    }
    SmartPtr<Shape> shape = MakeMeshShape(positions, indices);
    if (!shape)
        Fail(kestrel::Error::Internal, "the host could not make the shape (too large?)");
    return {shape};
}

std::string ShapeRepr(const ShapeRef& ref) {
    const kestrel::meshes::MeshView view = kestrel::meshes::ViewMesh(*ref.shape);
    return "<Shape: " + std::to_string(view.vertexCount) + " vertices, " +
           std::to_string(view.triangleCount) + " triangles>";
}

// ---- loading and saving ----

ElementRef Loaded(kestrel::LoadResult loaded) {
    Check(std::move(loaded.error));
    return NewTop(std::move(loaded.tree));
}

ElementRef LoadFile(const std::string& path) {
    kestrel::LoadResult loaded;
    {
        py::gil_scoped_release release;
        loaded = kestrel::Load(path);
    }
    return Loaded(std::move(loaded));
}

ElementRef LoadString(const std::string& text) {
    kestrel::LoadResult loaded;
    {
        py::gil_scoped_release release;
        loaded = kestrel::LoadText(text);
    }
    return Loaded(std::move(loaded));
}

void SaveFile(const ElementRef& tree, const std::string& path, int indent, bool strict) {
    kestrel::Error error;
    {
        py::gil_scoped_release release;
        kestrel::SaveOptions options;
        options.indent = indent;
        options.strict = strict;
        error = kestrel::Save(*tree.element, path, options);
    }
    Check(std::move(error));
}

py::bytes DumpString(const ElementRef& tree, int indent, bool strict) {
    kestrel::Error error;
    std::string text;
    {
        py::gil_scoped_release release;
        kestrel::SaveOptions options;
        options.indent = indent;
        options.strict = strict;
        text = kestrel::SaveText(*tree.element, &error, options);
    }
    Check(std::move(error));
    return py::bytes(text);
}

std::string WriteJson(const ElementRef& tree, int indent) {
    py::gil_scoped_release release;
    return kestrel::json::WriteContentJson(*tree.element, {indent});
}

ElementRef ReadJson(const std::string& text) {
    kestrel::LoadResult loaded;
    {
        py::gil_scoped_release release;
        loaded = kestrel::json::ReadContentJson(text);
    }
    return Loaded(std::move(loaded));
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The kestrel library's content trees; import kestrel_sc rather than this module.";

    py::register_exception_translator([](std::exception_ptr pointer) {
        try {
            if (pointer)
                std::rethrow_exception(pointer);
        } catch (const ContentError& failure) {
            const kestrel::Error& e = failure.error;
            py::object factory = TheRegistry().errorFactory;
            if (!factory) {
                PyErr_SetString(PyExc_RuntimeError, e.description().c_str());
                return;
            }
            py::object error =
                factory(CodeName(e.code), e.message, e.path, e.line, e.column, e.offset, e.place,
                        e.moduleMessage, e.description(), failure.kind);
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        }
    });

    m.def("_register", [](py::object factory, py::dict classes) {
        TheRegistry().errorFactory = std::move(factory);
        TheRegistry().classes = std::move(classes);
    });
    m.def("type_names", [] {
        py::list names;
        for (const auto& facts : kestrel::values::kTypeTable)
            names.append(py::str(facts.typeName.data(), facts.typeName.size()));
        return names;
    });

    py::class_<ShapeRef>(m, "Shape")
        .def(py::init(&MakeShape), py::arg("vertices"), py::arg("triangles"))
        .def_property_readonly("vertices", &VerticesOf)
        .def_property_readonly("triangles", &TrianglesOf)
        .def("__repr__", &ShapeRepr)
        .def("__eq__",
             [](const ShapeRef& a, py::handle b) {
                 return py::isinstance<ShapeRef>(b) && b.cast<const ShapeRef&>().shape == a.shape;
             })
        .def("__hash__", [](const ShapeRef& a) { return std::hash<const void*>()(a.shape.get()); });

    py::class_<PropertyRef>(m, "Property")
        .def_property_readonly(
            "name", [](const PropertyRef& p) { return std::string(p.Get().name.view()); })
        .def_property_readonly(
            "type", [](const PropertyRef& p) { return kestrel::values::TypeName(p.Get().value); })
        .def_property(
            "value", [](const PropertyRef& p) { return ValueToPython(p.Get().value); },
            [](const PropertyRef& p, py::handle value) {
                PropertyValue converted = ValueFromPython(value, p.Get().value.index());
                Check(kestrel::edit::SetPropertyValue(*p.owner.element, p.index,
                                                      std::move(converted)));
            })
        .def_property_readonly("element", [](const PropertyRef& p) { return p.owner; })
        .def("to_json",
             [](const PropertyRef& p) { return kestrel::json::WritePropertyJson(p.Get(), {0}); })
        .def("__repr__", [](const PropertyRef& p) {
            return "<Property " + std::string(p.Get().name.view()) + ": " +
                   kestrel::values::TypeName(p.Get().value) + " = " +
                   kestrel::values::ValueSummary(p.Get().value, 4) + ">";
        });

    py::class_<ElementRef>(m, "Element")
        .def(py::init([](const std::string& name) {
                 return NewTop(SmartPtr<Element>(Element::CreateTopElement(Symbol(name))));
             }),
             py::arg("name") = "figure")
        .def_property_readonly(
            "name", [](const ElementRef& e) { return std::string(e.element->GetName().view()); })
        .def_property_readonly(
            "path", [](const ElementRef& e) { return kestrel::paths::PathOf(*e.element); })
        .def_property_readonly("parent",
                               [](const ElementRef& e) -> py::object {
                                   if (!e.element->GetParent())
                                       return py::none();
                                   return py::cast(RefOf(e.element->GetParent(), e.tree));
                               })
        .def_property_readonly("children", &Children)
        .def_property_readonly("properties", &Properties)
        .def("__len__", [](const ElementRef& e) { return e.element->GetChildCount(); })
        .def("__iter__", [](const ElementRef& e) { return py::iter(Children(e)); })
        .def("__getitem__", &GetItem)
        .def("__contains__",
             [](const ElementRef& e, const std::string& path) {
                 return static_cast<bool>(kestrel::paths::Resolve(*e.element, path));
             })
        .def("_set", &SetItem)
        .def("__delitem__", &DelItem)
        .def("_add_property", &AddProperty)
        .def("add_child", &AddChild, py::arg("name"))
        .def("remove_child", &RemoveChild, py::arg("child"))
        .def(
            "remove_property",
            [](const ElementRef& e, std::size_t index) {
                Check(kestrel::edit::RemoveProperty(*e.element, index), "IndexError");
            },
            py::arg("index"))
        .def("__eq__",
             [](const ElementRef& a, py::handle b) {
                 return py::isinstance<ElementRef>(b) &&
                        b.cast<const ElementRef&>().element == a.element;
             })
        .def("__hash__", [](const ElementRef& e) { return std::hash<const void*>()(e.element); })
        .def("__repr__", &Repr);

    m.def("_load", &LoadFile);
    m.def("_loads", &LoadString);
    m.def("_save", &SaveFile);
    m.def("_dumps", &DumpString);
    m.def("_write_json", &WriteJson);
    m.def("_read_json", &ReadJson);
}
