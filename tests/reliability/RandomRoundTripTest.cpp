// Thousands of random trees (RandomContent.h) through every persistent form and back, bit for
// bit. Tree i is made from seed start + i; a failure names its seed, and
//   KESTREL_ROUNDTRIP_SEED=<seed> KESTREL_ROUNDTRIP_COUNT=1 reliability_tests
//   --gtest_filter='*Random*'
// replays it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "RandomContent.h"
#include "serializedContent/Formats.h"
#include "serializedContent/TestFiles.h"

namespace {

std::uint64_t EnvironmentNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 0) : fallback;
}

TEST(RandomRoundTripTest, TreesComeBackUnchangedInEveryFormat) {
    const std::uint64_t first = EnvironmentNumber("KESTREL_ROUNDTRIP_SEED", 1000000);
    const std::uint64_t count = EnvironmentNumber("KESTREL_ROUNDTRIP_COUNT", 1000);
    testfiles::TempDir dir;
    for (const formats::Format& format : formats::kFormats) {
        // A file load waits on the host's fetch thread: fewer trees go through files.
        const std::uint64_t end =
            first + (format.trip == &formats::ThroughXmlFile ? count / 10 : count);
        int failures = 0;
        for (std::uint64_t seed = first; seed < std::max(end, first + 1) && failures < 5; ++seed) {
            const formats::Tree tree = randomcontent::RandomTree(
                seed, format.xml ? randomcontent::Target::Xml : randomcontent::Target::Json);
            const std::string difference = formats::Difference(format, *tree, dir.path());
            failures += !difference.empty();
            EXPECT_EQ(difference, "") << "seed " << seed;
        }
    }
}

}  // namespace
