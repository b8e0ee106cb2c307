// The persistent forms of a content tree, each a trip out and back for round-trip tests: XML text,
// a file loaded through the module opened at run time, and canonical JSON.
#pragma once

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "kestrel/json/ContentJson.h"
#include "kestrel/load/Content.h"
#include "serializedContent/ContentCompare.h"

namespace formats {

using Tree = SmartPtr<SerializedContentElement>;

// The tree read back after one trip, or what broke; text is the written form, shown on failure.
struct Trip {
    Tree tree;
    std::string failure;
    std::string text;
};

inline Trip Read(const kestrel::LoadResult& read, std::string text) {
    return {read.tree, read ? "" : "reading: " + read.error.description(), std::move(text)};
}

// Strict, so that a type files cannot hold does not slip out unnoticed.
inline kestrel::SaveOptions Strict() {
    kestrel::SaveOptions options;
    options.strict = true;
    return options;
}

// Writing the tree read back must give the same text again, byte for byte.
inline Trip ThroughXmlText(const SerializedContentElement& tree, const std::filesystem::path&) {
    kestrel::Error error;
    const std::string text = kestrel::SaveText(tree, &error, Strict());
    if (error)
        return {nullptr, "SaveText: " + error.description(), ""};
    Trip trip = Read(kestrel::LoadText(text), text);
    if (trip.tree && kestrel::SaveText(*trip.tree, nullptr, Strict()) != text)
        trip.failure = "the tree read back writes other text";
    return trip;
}

inline Trip ThroughXmlFile(const SerializedContentElement& tree, const std::filesystem::path& dir) {
    const std::string path = (dir / "tree.xml").string();
    if (kestrel::Error error = kestrel::Save(tree, path, Strict()))
        return {nullptr, "Save: " + error.description(), ""};
    return Read(kestrel::Load(path), "");
}

// The text must be JSON to a JSON parser of its own, and write again the same.
inline Trip ThroughJson(const SerializedContentElement& tree, const std::filesystem::path&) {
    const std::string text = kestrel::json::WriteContentJson(tree);
    if (!nlohmann::json::accept(text))
        return {nullptr, "not JSON", text};
    Trip trip = Read(kestrel::json::ReadContentJson(text), text);
    if (trip.tree && kestrel::json::WriteContentJson(*trip.tree) != text)
        trip.failure = "the tree read back writes other JSON";
    return trip;
}

struct Format {
    const char* name;
    bool xml;  // holds only what content files carry
    Trip (*trip)(const SerializedContentElement&, const std::filesystem::path&);
};

inline constexpr Format kFormats[] = {{"XmlText", true, &ThroughXmlText},
                                      {"XmlFile", true, &ThroughXmlFile},
                                      {"Json", false, &ThroughJson}};

// "" when tree comes back bit for bit through format, else what differs and the written form.
inline std::string Difference(const Format& format, const SerializedContentElement& tree,
                              const std::filesystem::path& dir) {
    const Trip trip = format.trip(tree, dir);
    std::string difference = trip.failure;
    if (difference.empty())
        difference = contentcompare::FirstDifference(tree, *trip.tree);
    return difference.empty()
               ? ""
               : format.name + (": " + difference) + "\n" + trip.text.substr(0, 4000);
}

}  // namespace formats
