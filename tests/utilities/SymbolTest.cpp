#include "utilities/Symbol.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(SymbolTest, EqualTextsShareOneEntryAndEveryByteCounts) {
    Symbol a("kestrel_sc:property");
    EXPECT_EQ(a.Identity(), Symbol(std::string("kestrel_sc:property")).Identity());
    EXPECT_EQ(a, Symbol(std::string_view("kestrel_sc:propertyX").substr(0, 19)));
    EXPECT_NE(a, Symbol("kestrel_sc:Property"));  // case-sensitive
    EXPECT_NE(a, Symbol("kestrel_sc:property "));
    EXPECT_TRUE(a == std::string("kestrel_sc:property"));
    EXPECT_FALSE(a == std::string("Kestrel_sc:property"));
    EXPECT_TRUE(Symbol("a") < Symbol("b"));
    // NUL and high bytes are part of the text.
    const std::string text("a\0b\xff", 4);
    Symbol s(text);
    EXPECT_EQ(s.length(), 4u);
    EXPECT_EQ(std::string(s), text);
    EXPECT_EQ(s, text);
    EXPECT_NE(s, Symbol("a"));
    EXPECT_EQ(s.safe_c_str()[4], '\0');
}

TEST(SymbolTest, EmptyFormsAreAllTheSame) {
    const Symbol forms[] = {
        Symbol(),        Symbol(""),    Symbol(std::string()),
        Symbol(nullptr), Symbol::EMPTY, Symbol(static_cast<const char*>(nullptr), 0)};
    for (const Symbol& s : forms) {
        EXPECT_TRUE(s.empty());
        EXPECT_EQ(s.length(), 0u);
        EXPECT_STREQ(s.safe_c_str(), "");
        EXPECT_EQ(s, Symbol::EMPTY);
        EXPECT_EQ(s, std::string());
    }
}

TEST(SymbolTest, EntriesGoAwayWithTheirLastHolder) {
    const std::size_t before = InternedSymbolCount();
    {
        Symbol first("a text used only by this test");
        Symbol copy = first;
        Symbol moved = std::move(copy);
        EXPECT_EQ(InternedSymbolCount(), before + 1);
        first = Symbol("another text of this test");
        EXPECT_EQ(moved, Symbol("a text used only by this test"));
    }
    EXPECT_EQ(InternedSymbolCount(), before);
}

// Many texts come and go, as the string values of a large document do when it is loaded and freed:
// the table grows, reuses erased slots and keeps finding what is still held.
TEST(SymbolTest, ManyEntriesComeAndGo) {
    const std::size_t before = InternedSymbolCount();
    constexpr int kTexts = 200000;
    std::vector<Symbol> held;
    held.reserve(kTexts);
    for (int i = 0; i < kTexts; ++i)
        held.emplace_back("churn " + std::to_string(i));
    EXPECT_EQ(InternedSymbolCount(), before + kTexts);
    for (int i = 0; i < kTexts; i += 2)
        held[static_cast<std::size_t>(i)] = Symbol();
    EXPECT_EQ(InternedSymbolCount(), before + kTexts / 2);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kTexts; i += 2)
            Symbol passing("churn " + std::to_string(i) + " round " + std::to_string(round));
    }
    for (int i = 1; i < kTexts; i += 2) {
        const Symbol again("churn " + std::to_string(i));
        ASSERT_EQ(again.safe_c_str(), held[static_cast<std::size_t>(i)].safe_c_str()) << i;
    }
    held.clear();
    EXPECT_EQ(InternedSymbolCount(), before);
}

// Threads make and drop the same few texts at once; every Symbol must stay intact and equal
// Symbols must keep sharing entries while entries die and are reborn.
TEST(SymbolTest, ConcurrentInterningAndReleaseAgree) {
    const std::size_t before = InternedSymbolCount();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 20000; ++i) {
                std::string text = "shared-" + std::to_string(i % 7);
                Symbol a(text);
                Symbol b(text);
                ASSERT_EQ(a.Identity(), b.Identity());
                ASSERT_EQ(std::string(a), text);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(InternedSymbolCount(), before);
}

}  // namespace
