#include "kestrel/load/Module.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "serializedContent/TestFiles.h"

namespace {

using kestrel::Error;

std::string Example(const std::string& name) {
    return std::string(KESTREL_EXAMPLES_DIR) + "/" + name;
}

std::string BuiltModule() {
    return std::string(KESTREL_LIBRARY_DIR) + "/" + kestrel::ModuleFileName();
}

TEST(ModuleTest, FileNameIsThePlatforms) {
#if defined(_WIN32)
    EXPECT_EQ(kestrel::ModuleFileName(), "serializedContent.dll");
#else
    EXPECT_EQ(kestrel::ModuleFileName(), "libserializedContent.so");
#endif
}

TEST(ModuleTest, OpensBesideTheLibraryAndByPath) {
    kestrel::ModuleResult beside = kestrel::OpenModule();
    ASSERT_TRUE(beside) << beside.error.description();
    kestrel::ModuleResult named = kestrel::OpenModule(BuiltModule());
    ASSERT_TRUE(named) << named.error.description();
    EXPECT_EQ(named.module.path(), BuiltModule());
    kestrel::LoadResult loaded = named.module.Load(Example("assembly.xml"));
    ASSERT_TRUE(loaded) << loaded.error.description();
    EXPECT_EQ(loaded.tree->GetName(), std::string("figure"));
}

TEST(ModuleTest, AMissingLibraryKeepsTheSystemsReason) {
    kestrel::ModuleResult opened = kestrel::OpenModule("/no/such/dir/libserializedContent.so");
    EXPECT_FALSE(opened);
    EXPECT_EQ(opened.error.code, Error::ModuleUnavailable);
    EXPECT_FALSE(opened.error.moduleMessage.empty());
    EXPECT_EQ(opened.error.message, "cannot open the module: " + opened.error.moduleMessage);
    EXPECT_EQ(opened.error.path, "/no/such/dir/libserializedContent.so");
}

TEST(ModuleTest, AModuleNotOpenLoadsNothing) {
    kestrel::Module none;
    EXPECT_FALSE(none);
    kestrel::LoadResult loaded = none.Load(Example("assembly.xml"));
    EXPECT_FALSE(loaded);
    EXPECT_EQ(loaded.error.code, Error::ModuleUnavailable);
}

TEST(ModuleTest, FailuresSayWhyAndKeepWhatTheModuleSaid) {
    kestrel::ModuleResult opened = kestrel::OpenModule(BuiltModule());
    ASSERT_TRUE(opened);
    testfiles::TempDir dir;
    const auto bad = dir.Write("bad.xml", "<a><b></a>");
    kestrel::LoadResult malformed = opened.module.Load(bad.string());
    EXPECT_EQ(malformed.error.code, Error::Malformed);
    EXPECT_EQ(malformed.error.line, 1u);
    EXPECT_EQ(malformed.error.column, 7u);
    EXPECT_FALSE(malformed.error.moduleMessage.empty());

    kestrel::LoadResult missing = opened.module.Load((dir.path() / "absent.xml").string());
    EXPECT_EQ(missing.error.code, Error::NotFound);
    EXPECT_EQ(missing.error.moduleMessage, malformed.error.moduleMessage);
}

TEST(ModuleTest, OneModuleLoadsOnManyThreads) {
    kestrel::ModuleResult opened = kestrel::OpenModule(BuiltModule());
    ASSERT_TRUE(opened);
    std::vector<int> loaded(4, 0);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        threads.emplace_back([&, i] {
            kestrel::LoadOptions options;
            options.waiting = [] {};
            loaded[i] = opened.module.Load(Example("showcase.xml"), options) ? 1 : 0;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(loaded, std::vector<int>(4, 1));
}

}  // namespace
