// Thousands of random trees through each persistent form and back, compared bit for bit.
//
// Tree i of a row is made from the seed (start + i). A failure names the seed; to replay it:
//   KESTREL_ROUNDTRIP_SEED=<seed> KESTREL_ROUNDTRIP_COUNT=1 reliability_tests
//   --gtest_filter='*RoundTrip*'
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "RandomContent.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/load/Content.h"
#include "serializedContent/ContentCompare.h"
#include "serializedContent/TestFiles.h"

namespace {

using Tree = SmartPtr<SerializedContentElement>;
using randomcontent::Target;

// The tree read back after one trip, or a message saying where the trip broke.
struct Trip {
    Tree tree;
    std::string failure;
    std::string text;  // the persistent form, shown when the trees differ
};

// The module's writer to text, and the module's reader from that text: the in-memory path of the
// content facade. The text written from what was read must be the text read, byte for byte.
Trip ThroughXmlText(const SerializedContentElement& tree, const testfiles::TempDir&) {
    Trip trip;
    kestrel::Error error;
    kestrel::SaveOptions options;
    options.strict = true;  // a type the file cannot hold must not slip out of the generator
    trip.text = kestrel::SaveText(tree, &error, options);
    if (error) {
        trip.failure = "SaveText: " + error.description();
        return trip;
    }
    kestrel::LoadResult loaded = kestrel::LoadText(trip.text);
    if (!loaded) {
        trip.failure = "LoadText: " + loaded.error.description();
        return trip;
    }
    trip.tree = loaded.tree;
    const std::string again = kestrel::SaveText(*trip.tree, &error, options);
    if (again != trip.text)
        trip.failure = "writing the loaded tree gives other text:\n" + again;
    return trip;
}

// A file saved by the facade and loaded through the module library opened at run time, as the
// platform and kestrel-sc load files.
Trip ThroughXmlFile(const SerializedContentElement& tree, const testfiles::TempDir& directory) {
    Trip trip;
    const std::string path = (directory.path() / "tree.xml").string();
    kestrel::SaveOptions options;
    options.strict = true;
    if (kestrel::Error error = kestrel::Save(tree, path, options)) {
        trip.failure = "Save: " + error.description();
        return trip;
    }
    kestrel::LoadOptions loadOptions;
    loadOptions.modulePath = std::string(KESTREL_LIBRARY_DIR) + "/libserializedContent.so";
    kestrel::LoadResult loaded = kestrel::Load(path, loadOptions);
    if (!loaded) {
        trip.failure = "Load: " + loaded.error.description();
        return trip;
    }
    trip.tree = loaded.tree;
    return trip;
}

// The canonical JSON form, written and read back; writing the result again gives the same text.
Trip ThroughJson(const SerializedContentElement& tree, const testfiles::TempDir&) {
    Trip trip;
    trip.text = kestrel::json::WriteContentJson(tree);
    kestrel::LoadResult read = kestrel::json::ReadContentJson(trip.text);
    if (!read) {
        trip.failure = "ReadContentJson: " + read.error.description();
        return trip;
    }
    trip.tree = read.tree;
    const std::string again = kestrel::json::WriteContentJson(*trip.tree);
    if (again != trip.text)
        trip.failure = "writing the read tree gives other JSON:\n" + again;
    return trip;
}

std::uint64_t EnvironmentNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    return std::strtoull(text, nullptr, 0);
}

struct RoundTripRow {
    const char* name;
    Target target;
    std::uint64_t count;      // trees per run
    std::uint64_t firstSeed;  // seeds firstSeed, firstSeed + 1, ...
    Trip (*trip)(const SerializedContentElement&, const testfiles::TempDir&);
};

class RandomRoundTripTest : public testing::TestWithParam<RoundTripRow> {};

TEST_P(RandomRoundTripTest, TreesComeBackUnchanged) {
    const RoundTripRow& row = GetParam();
    const std::uint64_t first = EnvironmentNumber("KESTREL_ROUNDTRIP_SEED", row.firstSeed);
    const std::uint64_t count = EnvironmentNumber("KESTREL_ROUNDTRIP_COUNT", row.count);
    const bool print = EnvironmentNumber("KESTREL_ROUNDTRIP_PRINT", 0) != 0;
    testfiles::TempDir directory;
    std::uint64_t failures = 0;
    for (std::uint64_t seed = first; seed < first + count; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " (replay: KESTREL_ROUNDTRIP_SEED=" +
                     std::to_string(seed) + " KESTREL_ROUNDTRIP_COUNT=1)");
        Tree tree = randomcontent::RandomTree(seed, row.target);
        Trip trip = row.trip(*tree, directory);
        if (print)
            std::printf("--- seed %llu ---\n%s\n", static_cast<unsigned long long>(seed),
                        trip.text.c_str());
        std::string difference = trip.failure;
        if (difference.empty())
            difference = contentcompare::FirstDifference(*tree, *trip.tree);
        if (!difference.empty()) {
            ADD_FAILURE() << row.name << " round trip of seed " << seed << ": " << difference
                          << "\n--- written form (first 4000 bytes) ---\n"
                          << trip.text.substr(0, 4000);
            if (++failures == 5)
                break;  // the first few seeds say enough
        }
    }
}

// Seeds differ per row so that the rows together cover more trees.
INSTANTIATE_TEST_SUITE_P(
    Forms, RandomRoundTripTest,
    testing::Values(RoundTripRow{"XmlText", Target::Xml, 1900, 1000000, &ThroughXmlText},
                    RoundTripRow{"XmlFile", Target::Xml, 100, 2000000, &ThroughXmlFile},
                    RoundTripRow{"Json", Target::Json, 2000, 3000000, &ThroughJson}),
    [](const testing::TestParamInfo<RoundTripRow>& info) { return std::string(info.param.name); });

}  // namespace
