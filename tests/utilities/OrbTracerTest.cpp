#include "utilities/OrbTracer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(OrbTracerTest, FormatsOneMessageForTheSink) {
    std::vector<TraceMessage> seen;
    TraceSink previous = OrbTracer::SetSink([&](const TraceMessage& m) { seen.push_back(m); });
    OrbTracer tracer("serializedContent", "XmlParser");
    tracer(TRACE_WARNING, "unhandled property type %s <%s> %d of %s\n", "dhex", "--", 42, "file");
    OrbTracer::SetSink(previous);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].module, "serializedContent");
    EXPECT_EQ(seen[0].className, "XmlParser");
    EXPECT_EQ(seen[0].type, 3);
    EXPECT_EQ(seen[0].text, "unhandled property type dhex <--> 42 of file\n");
    EXPECT_STREQ(OrbTracer::TypeName(TRACE_WARNING), "warning");
    EXPECT_STREQ(OrbTracer::TypeName(static_cast<TraceType>(99)), "trace");
}

TEST(OrbTracerTest, LongMessagesAreNotCut) {
    std::string seen;
    TraceSink previous = OrbTracer::SetSink([&](const TraceMessage& m) { seen = m.text; });
    std::string big(10000, 'x');
    OrbTracer("m", "c")(TRACE_INFO, "%s!", big.c_str());
    OrbTracer::SetSink(previous);
    EXPECT_EQ(seen, big + "!");
}

}  // namespace
