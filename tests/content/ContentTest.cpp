#include "kestrel/load/Content.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serializedContent/ContentCompare.h"
#include "serializedContent/TestFiles.h"

namespace {

using kestrel::Error;

std::string Example(const std::string& name) {
    return std::string(KESTREL_EXAMPLES_DIR) + "/" + name;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every file in dir, by name.
std::vector<std::string> Listing(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    return names;
}

// A tree below "figure" with one child "part" holding the given property.
template <class T>
SmartPtr<SerializedContentElement> TreeWith(const char* name, T value) {
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* part = top->StartContent("part");
    part->AddPropertyValue(name, PropertyValue(std::in_place_type<T>, std::move(value)));
    part->EndContent();
    return top;
}

class ExampleLoadTest : public testing::TestWithParam<const char*> {};

TEST_P(ExampleLoadTest, LoadsThroughTheModuleAsTheTextReaderDoes) {
    kestrel::LoadResult loaded = kestrel::Load(Example(GetParam()));
    ASSERT_TRUE(loaded) << loaded.error.description();
    EXPECT_FALSE(loaded.error);
    EXPECT_EQ(loaded.tree->GetName(), std::string("figure"));
    EXPECT_GT(loaded.tree->GetChildCount(), 0u);

    kestrel::LoadResult text = kestrel::LoadText(ReadFile(Example(GetParam())));
    ASSERT_TRUE(text) << text.error.description();
    EXPECT_EQ(contentcompare::FirstDifference(*loaded.tree, *text.tree), "");
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleLoadTest,
                         testing::Values("assembly.xml", "images.xml", "meshes.xml", "naming.xml",
                                         "properties.xml", "showcase.xml"));

TEST(ContentTest, ShowcaseHoldsItsElementsAndProperties) {
    kestrel::LoadResult loaded = kestrel::Load(Example("showcase.xml"));
    ASSERT_TRUE(loaded) << loaded.error.description();
    SerializedContentElement* sampler = loaded.tree->FindChild("sampler");
    ASSERT_NE(sampler, nullptr);
    EXPECT_EQ(sampler->GetProperties().size(), 24u);
    ASSERT_NE(sampler->FindChild("geometry"), nullptr);
    EXPECT_EQ(sampler->FindChild("geometry")->GetProperties().size(), 2u);
}

TEST(ContentTest, LoadsRunSideBySide) {
    std::vector<kestrel::LoadResult> results(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&results, i] {
            results[i] = kestrel::Load(Example(i % 2 ? "assembly.xml" : "showcase.xml"));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const kestrel::LoadResult& result : results)
        EXPECT_TRUE(result) << result.error.description();
    EXPECT_EQ(contentcompare::FirstDifference(*results[0].tree, *results[2].tree), "");
}

TEST(ContentTest, ExplicitModulePathIsUsed) {
    kestrel::LoadOptions options;
#if defined(_WIN32)
    options.modulePath = std::string(KESTREL_LIBRARY_DIR) + "/serializedContent.dll";
#else
    options.modulePath = std::string(KESTREL_LIBRARY_DIR) + "/libserializedContent.so";
#endif
    EXPECT_TRUE(kestrel::Load(Example("naming.xml"), options));

    options.modulePath = "/no/such/dir/libserializedContent.so";
    kestrel::LoadResult missing = kestrel::Load(Example("naming.xml"), options);
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error.code, Error::ModuleUnavailable);
    EXPECT_NE(missing.error.description().find("/no/such/dir/libserializedContent.so"),
              std::string::npos)
        << missing.error.description();
}

TEST(ContentTest, MalformedFileGivesLineAndColumn) {
    testfiles::TempDir dir;
    auto file = dir.Write("bad.xml", "<r>\n  <kestrel_sc:a>\n</r>\n");
    kestrel::LoadResult loaded = kestrel::Load(file.string());
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(loaded.tree);
    EXPECT_EQ(loaded.error.code, Error::Malformed);
    EXPECT_EQ(loaded.error.line, 3u);
    EXPECT_GT(loaded.error.column, 0u);
    EXPECT_EQ(loaded.error.path, file.string());
    EXPECT_FALSE(loaded.error.message.empty());
    EXPECT_EQ(loaded.error.description().rfind(file.string() + ":3:", 0), 0u)
        << loaded.error.description();
}

TEST(ContentTest, MalformedTextGivesLineAndColumnWithoutPath) {
    kestrel::LoadResult loaded = kestrel::LoadText("<r>\n<a></b></r>");
    EXPECT_FALSE(loaded);
    EXPECT_EQ(loaded.error.code, Error::Malformed);
    EXPECT_EQ(loaded.error.line, 2u);
    EXPECT_TRUE(loaded.error.path.empty());
    EXPECT_EQ(loaded.error.description().rfind("2:", 0), 0u) << loaded.error.description();
}

TEST(ContentTest, MissingFileSaysSo) {
    testfiles::TempDir dir;
    const std::string file = (dir.path() / "absent.xml").string();
    kestrel::LoadResult loaded = kestrel::Load(file);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(loaded.error.code, Error::NotFound);
    EXPECT_EQ(loaded.error.description(), file + ": No such file or directory");
}

TEST(ContentTest, DirectoryIsNotARegularFile) {
    testfiles::TempDir dir;
    kestrel::LoadResult loaded = kestrel::Load(dir.path().string());
    EXPECT_EQ(loaded.error.code, Error::NotRegularFile);
    EXPECT_EQ(loaded.error.message, "is a directory");
}

TEST(ContentTest, UnreadableFileGivesTheSystemsReason) {
#if defined(_WIN32)
    GTEST_SKIP() << "file modes cannot take reading away on Windows";
#else
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files whatever their mode";
    testfiles::TempDir dir;
    auto file = dir.Write("locked.xml", "<r/>");
    ::chmod(file.c_str(), 0);
    kestrel::LoadResult loaded = kestrel::Load(file.string());
    EXPECT_EQ(loaded.error.code, Error::Unreadable);
    EXPECT_EQ(loaded.error.message, "Permission denied");
#endif
}

TEST(ContentTest, EmptyPathsAreRefused) {
    EXPECT_EQ(kestrel::Load("").error.code, Error::InvalidArgument);
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    EXPECT_EQ(kestrel::Save(*top, "").code, Error::InvalidArgument);
}

TEST(ContentTest, SaveAndLoadGiveBackTheSameTreeAndBytes) {
    testfiles::TempDir dir;
    kestrel::LoadResult first = kestrel::Load(Example("showcase.xml"));
    ASSERT_TRUE(first) << first.error.description();
    const std::filesystem::path copy = dir.path() / "copy.xml";
    Error saved = kestrel::Save(*first.tree, copy.string());
    ASSERT_FALSE(saved) << saved.description();
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"copy.xml"});

    kestrel::LoadResult second = kestrel::Load(copy.string());
    ASSERT_TRUE(second) << second.error.description();
    EXPECT_EQ(contentcompare::FirstDifference(*first.tree, *second.tree), "");

    Error error;
    const std::string text = kestrel::SaveText(*second.tree, &error);
    EXPECT_FALSE(error);
    EXPECT_EQ(text, ReadFile(copy));
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kestrel_sc:figure "
                         "xmlns:kestrel_sc=\"urn:kestrel-sc:serialized-content\">\n",
                         0),
              0u);
}

#if !defined(_WIN32)
// What Save writes opens in ElementTree, lxml and xmllint, through Debian's python3 (the one
// with lxml).
TEST(ContentTest, SavedFilesOpenInXmlTools) {
    testfiles::TempDir dir;
    kestrel::LoadResult loaded = kestrel::Load(Example("showcase.xml"));
    ASSERT_TRUE(loaded) << loaded.error.description();
    const std::string file = (dir.path() / "saved.xml").string();
    ASSERT_FALSE(kestrel::Save(*loaded.tree, file));
    const std::filesystem::path report = dir.path() / "report";
    const std::string command = std::string("/usr/bin/python3 ") + KESTREL_TEST_DATA_DIR +
                                "/../tools/open_with_xml_tools.py " + file + " > " +
                                report.string() + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(report);
    EXPECT_EQ(ReadFile(report), file + ": 23 properties\n");
}
#endif

// The reader goes by names: how (or whether) the root binds a prefix changes nothing, and the
// text written back declares the namespace exactly once.
TEST(ContentTest, NamespaceDeclarationsDoNotChangeWhatIsRead) {
    const std::string body =
        "<kestrel_sc:part><kestrel_sc:property type=\"int32\" name=\"n\">7</kestrel_sc:property>"
        "</kestrel_sc:part>";
    const std::string roots[] = {
        "<r>",
        "<kestrel_sc:figure xmlns:kestrel_sc=\"urn:kestrel-sc:serialized-content\">",
        "<k:figure xmlns:k=\"urn:kestrel-sc:serialized-content\" version=\"2\">",
        "<kestrel_sc:figure xmlns:kestrel_sc=\"http://example.com/other\">",
        "<figure xmlns=\"urn:kestrel-sc:serialized-content\">",
    };
    const auto tree = TreeWith("n", std::int32_t{7});
    const std::string written = kestrel::SaveText(*tree);
    EXPECT_EQ(written.find(kestrel::kNamespaceAttribute),
              written.rfind(kestrel::kNamespaceAttribute));
    for (const std::string& root : roots) {
        SCOPED_TRACE(root);
        const std::string end = "</" + root.substr(1, root.find_first_of(" >") - 1) + ">";
        kestrel::LoadResult loaded = kestrel::LoadText(root + body + end);
        ASSERT_TRUE(loaded) << loaded.error.description();
        EXPECT_EQ(contentcompare::FirstDifference(*tree, *loaded.tree), "");
        EXPECT_EQ(kestrel::SaveText(*loaded.tree), written);
    }
}

TEST(ContentTest, SaveReplacesAnExistingFile) {
    testfiles::TempDir dir;
    auto file = dir.Write("out.xml", "old");
    auto tree = TreeWith("count", std::int32_t{7});
    ASSERT_FALSE(kestrel::Save(*tree, file.string()));
    EXPECT_NE(ReadFile(file).find("name=\"count\">7<"), std::string::npos) << ReadFile(file);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.xml"});
}

// One row per tree a content file cannot hold; element paths use '/' and the top is "figure".
TEST(ContentTest, SaveRefusesWhatAFileCannotHold) {
    struct Row {
        const char* name;
        std::vector<std::string> path;  // elements made below the top, each inside the last
        bool topProperty;
        const char* message;  // nullptr: the tree can be saved
    };
    const Row rows[] = {
        {"TopProperty", {"part"}, true, "top element 'figure' has properties"},
        {"NotAnXmlName", {"two words"}, false, "'figure/two words': the name is not usable"},
        {"PropertyBelowTheTop",
         {"part", "property"},
         false,
         "'figure/part/property': an element called 'property' below the top level"},
        {"PropertyArrayDeeper",
         {"a", "b", "property_array"},
         false,
         "called 'property_array' below the top level would be read back as a property"},
        {"PropertyRightBelowTheTop", {"property"}, false, nullptr},
        {"OtherCase", {"part", "Property"}, false, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testfiles::TempDir dir;
        auto file = dir.Write("out.xml", "old");
        SmartPtr<SerializedContentElement> top(
            SerializedContentElement::CreateTopElement("figure"));
        if (row.topProperty)
            top->AddProperty("stray", true);
        SerializedContentElement* at = top.get();
        for (const std::string& name : row.path)
            at = at->StartContent(Symbol(name));
        const Error checked = kestrel::CheckSavable(*top);
        const Error saved = kestrel::Save(*top, file.string());
        if (!row.message) {
            EXPECT_FALSE(checked) << checked.description();
            EXPECT_FALSE(saved) << saved.description();
            continue;
        }
        EXPECT_EQ(checked.code, Error::NotSavable);
        EXPECT_EQ(saved.code, Error::NotSavable);
        EXPECT_NE(saved.message.find(row.message), std::string::npos) << saved.message;
        EXPECT_EQ(ReadFile(file), "old");
        EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.xml"});
    }
}

TEST(ContentTest, StrictRefusesTypesWithoutAnXmlForm) {
    auto tree = TreeWith("raw", DHex{42});
    Error error;
    const std::string lenient = kestrel::SaveText(*tree, &error);
    EXPECT_FALSE(error);
    EXPECT_EQ(lenient.find("raw"), std::string::npos) << "the writer leaves DHex out";

    kestrel::SaveOptions strict;
    strict.strict = true;
    EXPECT_EQ(kestrel::SaveText(*tree, &error, strict), "");
    EXPECT_EQ(error.code, Error::NotSavable);
    EXPECT_NE(error.message.find("'raw' of 'figure/part'"), std::string::npos) << error.message;
}

TEST(ContentTest, SaveIntoAMissingDirectoryFails) {
    testfiles::TempDir dir;
    auto tree = TreeWith("count", std::int32_t{1});
    const std::string file = (dir.path() / "no" / "out.xml").string();
    Error error = kestrel::Save(*tree, file);
    EXPECT_EQ(error.code, Error::WriteFailed);
    EXPECT_EQ(error.path, file);
    EXPECT_NE(error.message.find("No such file or directory"), std::string::npos) << error.message;
}

TEST(ContentTest, LoadReportsStartAndEnd) {
    const std::string file = Example("assembly.xml");
    const std::uint64_t size = std::filesystem::file_size(file);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    kestrel::LoadOptions options;
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
        return true;
    };
    ASSERT_TRUE(kestrel::Load(file, options));
    using Calls = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    EXPECT_EQ(calls, (Calls{{0, size}, {size, size}}));

    calls.clear();
    ASSERT_TRUE(kestrel::LoadText("<r><kestrel_sc:a/></r>", options));
    EXPECT_EQ(calls, (Calls{{0, 22}, {22, 22}}));
}

TEST(ContentTest, LoadCanBeCancelledAtEitherEnd) {
    for (int stopAt : {0, 1}) {
        int call = 0;
        kestrel::LoadOptions options;
        options.progress = [&](std::uint64_t, std::uint64_t) { return call++ != stopAt; };
        kestrel::LoadResult loaded = kestrel::Load(Example("assembly.xml"), options);
        EXPECT_FALSE(loaded);
        EXPECT_FALSE(loaded.tree);
        EXPECT_EQ(loaded.error.code, Error::Cancelled);
        EXPECT_EQ(call, stopAt + 1);
    }
}

TEST(ContentTest, SaveReportsEveryChunk) {
    testfiles::TempDir dir;
    auto tree = TreeWith("blob", Symbol(std::string(3 * 1024 * 1024 + 17, 'x')));
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    kestrel::SaveOptions options;
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
        return true;
    };
    const std::filesystem::path file = dir.path() / "big.xml";
    ASSERT_FALSE(kestrel::Save(*tree, file.string(), options));
    const std::uint64_t size = std::filesystem::file_size(file);
    ASSERT_EQ(calls.size(), 5u);  // the start, then four chunks of at most 1 MiB
    EXPECT_EQ(calls.front(), std::make_pair(std::uint64_t{0}, size));
    EXPECT_EQ(calls.back(), std::make_pair(size, size));
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GT(calls[i].first, calls[i - 1].first);
        EXPECT_LE(calls[i].first - calls[i - 1].first, std::uint64_t{1} << 20);
    }
}

TEST(ContentTest, CancelledSaveLeavesTheTargetUntouched) {
    testfiles::TempDir dir;
    auto file = dir.Write("out.xml", "old");
    auto tree = TreeWith("blob", Symbol(std::string(2 * 1024 * 1024, 'y')));
    int calls = 0;
    kestrel::SaveOptions options;
    options.progress = [&](std::uint64_t, std::uint64_t) { return ++calls < 2; };
    Error error = kestrel::Save(*tree, file.string(), options);
    EXPECT_EQ(error.code, Error::Cancelled);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.xml"});

    options.progress = [](std::uint64_t, std::uint64_t) { return false; };
    EXPECT_EQ(kestrel::SaveText(*tree, &error, options), "");
    EXPECT_EQ(error.code, Error::Cancelled);
}

TEST(ContentTest, ExceptionsFromTheCallbackBecomeErrors) {
    kestrel::LoadOptions options;
    options.progress = [](std::uint64_t, std::uint64_t) -> bool { throw std::runtime_error("x"); };
    kestrel::LoadResult loaded = kestrel::LoadText("<r/>", options);
    EXPECT_EQ(loaded.error.code, Error::Internal);
    EXPECT_EQ(loaded.error.message, "x");
}

TEST(ContentTest, DescriptionLeavesOutWhatIsUnknown) {
    Error none;
    EXPECT_FALSE(none);
    EXPECT_EQ(none.description(), "");
    Error plain{Error::LoadFailed, "refused", "", 0, 0, "", 0, ""};
    EXPECT_TRUE(plain);
    EXPECT_EQ(plain.description(), "refused");
    Error placed{Error::Malformed, "bad tag", "a.xml", 4, 9, "Error loading orbifile.", 80, ""};
    EXPECT_EQ(placed.description(), "a.xml:4:9: bad tag");
    Error lined{Error::Malformed, "bad face", "m.obj", 7, 0, "", 0, ""};
    EXPECT_EQ(lined.description(), "m.obj:7: bad face");
    Error inJson{Error::Invalid, "expected a string", "a.json", 0, 0, "", 0, "/name"};
    EXPECT_EQ(inJson.description(), "a.json: /name: expected a string");
}

}  // namespace
