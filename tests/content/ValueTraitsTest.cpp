#include "kestrel/values/ValueTraits.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

namespace {

using kestrel::values::IndexOfType;
using kestrel::values::kTypeTable;

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

}  // namespace
