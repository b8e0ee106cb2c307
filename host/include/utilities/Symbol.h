// Symbol: the host's immutable, interned string.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "utilities/Export.h"

namespace detail {
struct SymbolEntry;
}

// An immutable string. Equal texts share one interned entry, so copies are cheap and two Symbols
// compare by pointer. Texts may hold any bytes, NUL included; comparison is exact and
// case-sensitive.
class UTILITIES_API Symbol {
public:
    // The empty Symbol.
    constexpr Symbol() noexcept : entry_(nullptr) {}
    // Interns a NUL-terminated text; null gives the empty Symbol.
    Symbol(const char* text);
    // Interns length bytes at text (which may hold NULs); null with length 0 gives the empty
    // Symbol.
    Symbol(const char* text, std::size_t length);
    // Interns the text of a std::string, all of its bytes.
    Symbol(const std::string& text);
    // Interns the bytes of a view.
    Symbol(std::string_view text);
    Symbol(const Symbol& other) noexcept;
    Symbol(Symbol&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
    Symbol& operator=(const Symbol& other) noexcept;
    Symbol& operator=(Symbol&& other) noexcept;
    ~Symbol();

    // A copy of the text.
    operator std::string() const;
    // The text as a view; valid while this Symbol (or an equal one) lives.
    std::string_view view() const noexcept;
    // Number of bytes of the text.
    std::size_t length() const noexcept;
    // The text, NUL-terminated; never null ("" for the empty Symbol).
    const char* safe_c_str() const noexcept;
    // True for the empty text.
    bool empty() const noexcept { return entry_ == nullptr; }

    // Exact comparison; interning makes it a pointer comparison.
    friend bool operator==(const Symbol& a, const Symbol& b) noexcept {
        return a.entry_ == b.entry_;
    }
    // Exact, case-sensitive comparison with a std::string.
    friend UTILITIES_API bool operator==(const Symbol& a, const std::string& b) noexcept;
    // Exact, case-sensitive comparison with a view or a C string.
    friend bool operator==(const Symbol& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const Symbol& a, const char* b) noexcept {
        return a.view() == std::string_view(b ? b : "");
    }
    // Orders by text, byte by byte.
    friend bool operator<(const Symbol& a, const Symbol& b) noexcept { return a.view() < b.view(); }

    // Identity of the interned entry, for hashing.
    const void* Identity() const noexcept { return entry_; }

    // The empty Symbol.
    static const Symbol EMPTY;

private:
    // The host's parsed XML trees lend the Symbols of their names to their elements without
    // counting each loan: the tree holds one count per distinct name for as long as it lives.
    friend class XmlElem;
    // A Symbol of the same text that holds no count; Forget must end it before it is destroyed.
    static Symbol Lend(const Symbol& owner) noexcept {
        Symbol lent;
        lent.entry_ = owner.entry_;
        return lent;
    }
    void Forget() noexcept { entry_ = nullptr; }

    const detail::SymbolEntry* entry_;
};

// Number of distinct texts currently interned (for tests and statistics).
UTILITIES_API std::size_t InternedSymbolCount();

template <>
struct std::hash<Symbol> {
    std::size_t operator()(const Symbol& s) const noexcept {
        return std::hash<const void*>()(s.Identity());
    }
};
