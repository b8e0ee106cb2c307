#include "utilities/OrbTracer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(OrbTracerTest, FormatsOneWholeMessageForTheSink) {
    std::vector<TraceMessage> seen;
    TraceSink previous = OrbTracer::SetSink([&](const TraceMessage& m) { seen.push_back(m); });
    OrbTracer tracer("serializedContent", "XmlParser");
    tracer(TRACE_WARNING, "unhandled property type %s <%s> %d of %s\n", "dhex", "--", 42, "file");
    const std::string big(10000, 'x');  // longer than any fixed buffer: must not be cut
    OrbTracer("m", "c")(TRACE_INFO, "%s!", big.c_str());
    OrbTracer::SetSink(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].module, "serializedContent");
    EXPECT_EQ(seen[0].className, "XmlParser");
    EXPECT_EQ(seen[0].type, 3);
    EXPECT_EQ(seen[0].text, "unhandled property type dhex <--> 42 of file\n");
    EXPECT_EQ(seen[1].text, big + "!");
    EXPECT_STREQ(OrbTracer::TypeName(TRACE_WARNING), "warning");
    EXPECT_STREQ(OrbTracer::TypeName(static_cast<TraceType>(99)), "trace");
}

}  // namespace
