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

}  // namespace
