#include "kestrel/load/Content.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "kestrel/paths/ContentPath.h"
#include "serializedContent/ContentCompare.h"
#include "serializedContent/TestFiles.h"

namespace {

using kestrel::Error;
using namespace testfiles;
using Calls = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// A tree below "figure" with one child "part" holding the given property.
template <class T>
SmartPtr<SerializedContentElement> TreeWith(const char* name, T value) {
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* part = top->StartContent("part");
    part->AddPropertyValue(name, PropertyValue(std::in_place_type<T>, std::move(value)));
    part->EndContent();
    return top;
}

TEST(ContentTest, ExamplesLoadThroughTheModuleAsTheTextReaderReadsThem) {
    for (const char* name : {"assembly.xml", "images.xml", "meshes.xml", "naming.xml",
                             "properties.xml", "showcase.xml"}) {
        kestrel::LoadResult loaded = kestrel::Load(Example(name));
        ASSERT_TRUE(loaded) << name << ": " << loaded.error.description();
        EXPECT_GT(loaded.tree->GetChildCount(), 0u);
        kestrel::LoadResult text = kestrel::LoadText(ReadFile(Example(name)));
        ASSERT_TRUE(text) << name << ": " << text.error.description();
        EXPECT_EQ(contentcompare::FirstDifference(*loaded.tree, *text.tree), "") << name;
    }
}

// One row per way a load fails, with the error a user reads.
TEST(ContentTest, LoadFailuresSayWhatAndWhere) {
    testfiles::TempDir dir;
    const std::string bad = dir.Write("bad.xml", "<r>\n  <kestrel_sc:a>\n</r>\n").string();
    const std::string locked = dir.Write("locked.xml", "<r/>").string();
#if defined(_WIN32)
    const bool modesCount = false;  // file modes cannot take reading away on Windows
#else
    ::chmod(locked.c_str(), 0);
    const bool modesCount = ::geteuid() != 0;  // root reads files whatever their mode
#endif
    const std::string absent = (dir.path() / "absent.xml").string();
    const std::string folder = dir.path().string();
    kestrel::LoadOptions noModule;
    noModule.modulePath = "/no/such/dir/libserializedContent.so";
    const struct {
        kestrel::LoadResult loaded;
        Error::Code code;
        std::string description;  // how it starts
    } rows[] = {
        {kestrel::Load(absent), Error::NotFound, absent + ": No such file or directory"},
        {kestrel::Load(folder), Error::NotRegularFile, folder + ": is a directory"},
        {kestrel::Load(locked), modesCount ? Error::Unreadable : Error::None,
         modesCount ? locked + ": Permission denied" : ""},
        {kestrel::Load(bad), Error::Malformed, bad + ":3:"},
        {kestrel::LoadText("<r>\n<a></b></r>"), Error::Malformed, "2:"},
        {kestrel::Load(""), Error::InvalidArgument, ""},
        {kestrel::Load(Example("naming.xml"), noModule), Error::ModuleUnavailable,
         "/no/such/dir/libserializedContent.so"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.loaded.error.code, row.code) << row.description;
        EXPECT_EQ(row.loaded.error.description().rfind(row.description, 0), 0u)
            << row.loaded.error.description();
        EXPECT_EQ(bool(row.loaded.tree), row.code == Error::None);
    }
    EXPECT_GT(rows[3].loaded.error.column, 0u);
}

// What Save writes loads back the same, and opens in ElementTree, lxml and xmllint (through
// Debian's python3, the one with lxml).
TEST(ContentTest, SavedFilesLoadBackTheSameAndOpenInXmlTools) {
    testfiles::TempDir dir;
    kestrel::LoadResult first = kestrel::Load(Example("showcase.xml"));
    ASSERT_TRUE(first) << first.error.description();
    const std::string copy = dir.Write("copy.xml", "old").string();
    Error saved = kestrel::Save(*first.tree, copy);
    ASSERT_FALSE(saved) << saved.description();
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"copy.xml"});
    kestrel::LoadResult second = kestrel::Load(copy);
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
#if !defined(_WIN32)
    const std::string report = (dir.path() / "report").string();
    const std::string command = std::string("/usr/bin/python3 ") + KESTREL_TEST_DATA_DIR +
                                "/../tools/open_with_xml_tools.py " + copy + " > " + report +
                                " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(report);
    EXPECT_EQ(ReadFile(report), copy + ": 23 properties\n");
#endif
    const std::string nowhere = (dir.path() / "no" / "out.xml").string();
    error = kestrel::Save(*first.tree, nowhere);
    EXPECT_EQ(error.code, Error::WriteFailed);
    EXPECT_EQ(error.description().rfind(nowhere + ": cannot create a temporary file", 0), 0u);
    EXPECT_EQ(kestrel::Save(*first.tree, "").code, Error::InvalidArgument);
}

// The reader goes by names: how (or whether) the root binds a prefix changes nothing, and the
// text written back declares the namespace exactly once.
TEST(ContentTest, NamespaceDeclarationsDoNotChangeWhatIsRead) {
    const std::string body =
        "<kestrel_sc:part><kestrel_sc:property type=\"int32\" name=\"n\">7</kestrel_sc:property>"
        "</kestrel_sc:part>";
    const auto tree = TreeWith("n", std::int32_t{7});
    const std::string written = kestrel::SaveText(*tree);
    EXPECT_EQ(written.find(kestrel::kNamespaceAttribute),
              written.rfind(kestrel::kNamespaceAttribute));
    for (const std::string root :
         {"<r>", "<kestrel_sc:figure xmlns:kestrel_sc=\"urn:kestrel-sc:serialized-content\">",
          "<k:figure xmlns:k=\"urn:kestrel-sc:serialized-content\" version=\"2\">",
          "<kestrel_sc:figure xmlns:kestrel_sc=\"http://example.com/other\">",
          "<figure xmlns=\"urn:kestrel-sc:serialized-content\">"}) {
        const std::string end = "</" + root.substr(1, root.find_first_of(" >") - 1) + ">";
        kestrel::LoadResult loaded = kestrel::LoadText(root + body + end);
        ASSERT_TRUE(loaded) << root << ": " << loaded.error.description();
        EXPECT_EQ(contentcompare::FirstDifference(*tree, *loaded.tree), "") << root;
        EXPECT_EQ(kestrel::SaveText(*loaded.tree), written);
    }
}

// One row per tree a content file cannot hold; element paths use '/' and the top is "figure".
TEST(ContentTest, SaveRefusesWhatAFileCannotHold) {
    const struct {
        const char* path;  // elements made below the top
        bool topProperty;
        const char* message;  // nullptr: the tree can be saved
    } rows[] = {
        {"part", true, "top element 'figure' has properties"},
        {"two words", false, "'figure/two words': the name is not usable"},
        {"part/property", false,
         "'figure/part/property': an element called 'property' below the top level"},
        {"a/b/property_array", false,
         "called 'property_array' below the top level would be read back as a property"},
        {"property", false, nullptr},
        {"part/Property", false, nullptr},
    };
    testfiles::TempDir dir;
    for (const auto& row : rows) {
        auto file = dir.Write("out.xml", "old");
        SmartPtr<SerializedContentElement> top(
            SerializedContentElement::CreateTopElement("figure"));
        if (row.topProperty)
            top->AddProperty("stray", true);
        kestrel::paths::MakeElement(*top, row.path);
        const Error checked = kestrel::CheckSavable(*top);
        const Error saved = kestrel::Save(*top, file.string());
        EXPECT_EQ(checked.code, row.message ? Error::NotSavable : Error::None) << row.path;
        EXPECT_EQ(saved.code, checked.code);
        EXPECT_NE(saved.message.find(row.message ? row.message : ""), std::string::npos);
        EXPECT_EQ(ReadFile(file) == "old", row.message != nullptr);
        EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.xml"});
    }
}

TEST(ContentTest, StrictRefusesTypesWithoutAnXmlForm) {
    auto tree = TreeWith("raw", DHex{42});
    Error error;
    EXPECT_EQ(kestrel::SaveText(*tree, &error).find("raw"), std::string::npos);
    EXPECT_FALSE(error);  // the writer leaves DHex out
    kestrel::SaveOptions strict;
    strict.strict = true;
    EXPECT_EQ(kestrel::SaveText(*tree, &error, strict), "");
    EXPECT_EQ(error.code, Error::NotSavable);
    EXPECT_NE(error.message.find("'raw' of 'figure/part'"), std::string::npos) << error.message;
}

// Loads report their start and end, saves every chunk of at most 1 MiB; either stops when the
// callback says so (a cancelled save leaves the target untouched), and an exception thrown by
// the callback becomes an error.
TEST(ContentTest, ProgressAndCancelling) {
    Calls calls;
    std::size_t stopAt = 0;  // the call that answers false; 0 for none
    const auto record = [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
        return calls.size() != stopAt;
    };
    kestrel::LoadOptions load;
    load.progress = record;
    const std::string file = Example("assembly.xml");
    const std::uint64_t size = std::filesystem::file_size(file);
    ASSERT_TRUE(kestrel::Load(file, load));
    EXPECT_EQ(calls, (Calls{{0, size}, {size, size}}));
    calls.clear();
    ASSERT_TRUE(kestrel::LoadText("<r><kestrel_sc:a/></r>", load));
    EXPECT_EQ(calls, (Calls{{0, 22}, {22, 22}}));
    for (stopAt = 1; stopAt <= 2; ++stopAt) {
        calls.clear();
        kestrel::LoadResult loaded = kestrel::Load(file, load);
        EXPECT_EQ(loaded.error.code, Error::Cancelled);
        EXPECT_FALSE(loaded.tree);
        EXPECT_EQ(calls.size(), stopAt);
    }
    testfiles::TempDir dir;
    auto tree = TreeWith("blob", Symbol(std::string(3 * 1024 * 1024 + 17, 'x')));
    const std::string big = dir.Write("big.xml", "old").string();
    kestrel::SaveOptions save;
    save.progress = record;
    calls.clear();
    stopAt = 0;
    ASSERT_FALSE(kestrel::Save(*tree, big, save));
    const std::uint64_t written = std::filesystem::file_size(big);
    ASSERT_EQ(calls.size(), 5u);  // the start, then each MiB, then the end
    // Save writes as it goes: the start hears the size expected, which nothing here escapes.
    EXPECT_EQ(calls.front().first, 0u);
    EXPECT_GE(calls.front().second, written);
    EXPECT_LE(calls.front().second, written + written / 100);
    EXPECT_EQ(calls.back(), std::make_pair(written, written));
    for (std::size_t i = 1; i < calls.size(); ++i) {
        const std::uint64_t step = calls[i].first - calls[i - 1].first;
        EXPECT_TRUE(step > 0 && step <= std::uint64_t{1} << 20) << step;
    }
    const std::string saved = ReadFile(big);
    calls.clear();
    stopAt = 2;
    EXPECT_EQ(kestrel::Save(*tree, big, save).code, Error::Cancelled);
    EXPECT_EQ(ReadFile(big), saved);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"big.xml"});
    // A callback that throws in the middle of the writing leaves the file as it was, too.
    kestrel::SaveOptions throwing;
    int heard = 0;
    throwing.progress = [&heard](std::uint64_t, std::uint64_t) -> bool {
        if (++heard == 3)
            throw std::runtime_error("stop here");
        return true;
    };
    const Error thrownSave = kestrel::Save(*tree, big, throwing);
    EXPECT_EQ(thrownSave.code, Error::Internal);
    EXPECT_EQ(thrownSave.message, "stop here");
    EXPECT_EQ(ReadFile(big), saved);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"big.xml"});
    calls.clear();
    stopAt = 1;
    Error error;
    EXPECT_EQ(kestrel::SaveText(*tree, &error, save), "");
    EXPECT_EQ(error.code, Error::Cancelled);
    load.progress = [](std::uint64_t, std::uint64_t) -> bool { throw std::runtime_error("x"); };
    kestrel::LoadResult thrown = kestrel::LoadText("<r/>", load);
    EXPECT_EQ(thrown.error.code, Error::Internal);
    EXPECT_EQ(thrown.error.message, "x");
}

TEST(ContentTest, DescriptionLeavesOutWhatIsUnknown) {
    EXPECT_EQ((Error{Error::Malformed, "bad face", "m.obj", 7, 0, "", 0, ""}.description()),
              "m.obj:7: bad face");
    EXPECT_EQ((Error{Error::Invalid, "expected a string", "", 0, 0, "", 0, "/name"}.description()),
              "/name: expected a string");
}

}  // namespace
