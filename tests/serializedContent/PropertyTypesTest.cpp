#include "serializedContent/xmlwriter/PropertyTypes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using namespace serializedContent;

// The name table's Symbols and the type table's names must agree for every type.
TEST(PropertyTypesTest, TypeNamesAgreeWithTheNameTable) {
    const NameTable names;
    std::set<std::string> seen;
    auto check = [&]<class T>() {
        EXPECT_EQ(std::string(names.*PropertyTraits<T>::name), PropertyTraits<T>::typeName);
        seen.insert(PropertyTraits<T>::typeName);
        return false;
    };
    AnyOf(SingleValueTypes{}, check);
    AnyOf(TypeList<SmartPtr<Shape>, SmartPtr<Image>>{}, check);
    EXPECT_EQ(seen.size(), 23u);
    std::set<std::string> arrays;
    AnyOf(ArrayValueTypes{}, [&]<class T>() {
        arrays.insert(PropertyTraits<T>::typeName);
        return false;
    });
    EXPECT_EQ(arrays, (std::set<std::string>{"uint32", "float", "double", "color", "dpoint2d",
                                             "string", "bool"}));
}

TEST(PropertyTypesTest, NameTableHoldsTheDocumentNames) {
    const NameTable names;
    EXPECT_EQ(std::string(names.property), "kestrel_sc:property");
    EXPECT_EQ(std::string(names.propertyArray), "kestrel_sc:property_array");
    EXPECT_EQ(std::string(names.type), "type");
    EXPECT_EQ(std::string(names.name), "name");
    EXPECT_EQ(std::string(names.value), "value");
    EXPECT_EQ(std::string(names.arrayCount), "count");
    EXPECT_EQ(names.arrayName, names.name);
    EXPECT_EQ(names.arrayType, names.type);
}

TEST(PropertyTypesTest, IntegersNarrowAndReinterpretAsDocumented) {
    EXPECT_EQ(PropertyTraits<std::uint32_t>::ToKind(4294967295u), -1);
    EXPECT_EQ(PropertyTraits<std::uint64_t>::ToKind(18446744073709551615u), -1);
    EXPECT_EQ(PropertyTraits<std::uint8_t>::ToKind(255), 255);
    EXPECT_EQ(PropertyTraits<std::int8_t>::ToKind(-1), -1);
    EXPECT_EQ(PropertyTraits<std::int8_t>::FromKind(300), 44);
    EXPECT_EQ(PropertyTraits<std::int16_t>::FromKind(32768), -32768);
    EXPECT_EQ(PropertyTraits<std::uint32_t>::FromKind(-1), 4294967295u);
    EXPECT_EQ(PropertyTraits<Color>::FromKind(0x11223344u).GetAsHex(), 0x11223344u);
}

}  // namespace
