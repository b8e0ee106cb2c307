#include "kestrel/values/ValueTraits.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

namespace {

using kestrel::values::FactsOf;
using kestrel::values::IndexOfType;
using kestrel::values::JsonForm;
using kestrel::values::kTypeTable;
using kestrel::values::ValueTraits;

TEST(ValueTraitsTest, EveryTypeHasItsOwnName) {
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < kTypeTable.size(); ++i) {
        EXPECT_TRUE(names.insert(kTypeTable[i].typeName).second) << kTypeTable[i].typeName;
        EXPECT_EQ(IndexOfType(kTypeTable[i].typeName), i);
    }
    EXPECT_EQ(names.size(), std::variant_size_v<PropertyValue>);
    EXPECT_FALSE(IndexOfType("int33"));
    EXPECT_FALSE(IndexOfType("image[]"));
}

TEST(ValueTraitsTest, NamesAreTheModulesAndArraysNameTheirItems) {
    serializedContent::AnyOf(serializedContent::SingleValueTypes{}, []<class T>() {
        EXPECT_EQ(ValueTraits<T>::typeName, serializedContent::PropertyTraits<T>::typeName);
        EXPECT_EQ(ValueTraits<std::vector<T>>::typeName,
                  std::string(serializedContent::PropertyTraits<T>::typeName) + "[]");
        return false;
    });
    EXPECT_EQ(ValueTraits<DHex>::typeName, "dhex");
    EXPECT_EQ(ValueTraits<std::vector<DHex>>::typeName, "dhex[]");
    EXPECT_EQ(ValueTraits<std::vector<SmartPtr<Shape>>>::itemTypeName, "shape");
    EXPECT_EQ(FactsOf(PropertyValue(std::vector<float>{})).typeName, "float[]");
}

TEST(ValueTraitsTest, ContentFilesCarryWhatTheModuleWrites) {
    for (const auto& facts : kTypeTable) {
        bool named = false;
        if (!facts.isArray) {
            named = facts.typeName == "shape" || facts.typeName == "image";
            serializedContent::AnyOf(serializedContent::SingleValueTypes{}, [&]<class T>() {
                named = named || facts.typeName == serializedContent::PropertyTraits<T>::typeName;
                return false;
            });
        } else {
            named = facts.itemTypeName == "shape";
            serializedContent::AnyOf(serializedContent::ArrayValueTypes{}, [&]<class T>() {
                named =
                    named || facts.itemTypeName == serializedContent::PropertyTraits<T>::typeName;
                return false;
            });
        }
        EXPECT_EQ(facts.xmlCarries, named) << facts.typeName;
    }
}

TEST(ValueTraitsTest, ComponentsAndKinds) {
    static_assert(std::is_same_v<ValueTraits<Location>::Real, double>);
    static_assert(ValueTraits<Location>::components == 8);
    static_assert(std::is_same_v<ValueTraits<Quaternion<float>>::Real, float>);
    static_assert(ValueTraits<Quaternion<float>>::components == 4);
    static_assert(ValueTraits<DVec2>::components == 2 && ValueTraits<DVec2>::isCompound);
    static_assert(std::is_same_v<ValueTraits<float>::Real, float>);
    static_assert(ValueTraits<float>::components == 1 && !ValueTraits<float>::isCompound);
    static_assert(std::is_void_v<ValueTraits<Color>::Real>);
    static_assert(std::is_void_v<ValueTraits<std::vector<double>>::Real>);
    static_assert(ValueTraits<std::uint8_t>::isInteger && !ValueTraits<bool>::isInteger);
    static_assert(ValueTraits<std::vector<bool>>::isArray);
    static_assert(std::is_same_v<ValueTraits<std::vector<bool>>::Item, bool>);
    EXPECT_EQ(FactsOf(PropertyValue(FPoint3D{})).components, 3u);
}

TEST(ValueTraitsTest, JsonForms) {
    static_assert(ValueTraits<bool>::json == JsonForm::Bool);
    static_assert(ValueTraits<std::int64_t>::json == JsonForm::Integer);
    static_assert(ValueTraits<double>::json == JsonForm::Real);
    static_assert(ValueTraits<Symbol>::json == JsonForm::String);
    static_assert(ValueTraits<Color>::json == JsonForm::Color);
    static_assert(ValueTraits<DHex>::json == JsonForm::Hex);
    static_assert(ValueTraits<DPoint3D>::json == JsonForm::Components);
    static_assert(ValueTraits<SmartPtr<Shape>>::json == JsonForm::Mesh);
    static_assert(ValueTraits<SmartPtr<Image>>::json == JsonForm::Image);
    static_assert(ValueTraits<std::vector<Color>>::json == JsonForm::Array);
    SUCCEED();
}

TEST(ValueTraitsTest, ElementNamesAreTheModules) {
    const serializedContent::NameTable& names = kestrel::values::Names();
    EXPECT_EQ(names.property.view(), "kestrel_sc:property");
    EXPECT_EQ(names.propertyArray.view(), "kestrel_sc:property_array");
    EXPECT_TRUE(names.property.view().starts_with(kestrel::values::kElementPrefix));
}

}  // namespace
