#include "kestrel/values/ValueTraits.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

namespace {

using kestrel::values::FactsOf;
using kestrel::values::IndexOfType;
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

}  // namespace
