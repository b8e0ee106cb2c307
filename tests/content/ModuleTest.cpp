#include "kestrel/load/Module.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "serializedContent/TestFiles.h"

namespace {

using kestrel::Error;
using testfiles::Example;

std::string BuiltModule() {
    return std::string(KESTREL_LIBRARY_DIR) + "/" + kestrel::ModuleFileName();
}

TEST(ModuleTest, OpensBesideTheLibraryAndByPathAndFailuresKeepWhatTheModuleSaid) {
    ASSERT_TRUE(kestrel::OpenModule());
    kestrel::ModuleResult opened = kestrel::OpenModule(BuiltModule());
    ASSERT_TRUE(opened) << opened.error.description();
    EXPECT_EQ(opened.module.path(), BuiltModule());
    kestrel::LoadResult loaded = opened.module.Load(Example("assembly.xml"));
    ASSERT_TRUE(loaded) << loaded.error.description();
    EXPECT_EQ(loaded.tree->GetName(), std::string("figure"));
    testfiles::TempDir dir;
    kestrel::LoadResult malformed = opened.module.Load(dir.Write("bad.xml", "<a><b></a>").string());
    EXPECT_EQ(malformed.error.code, Error::Malformed);
    EXPECT_EQ(malformed.error.line, 1u);
    EXPECT_EQ(malformed.error.column, 7u);
    EXPECT_FALSE(malformed.error.moduleMessage.empty());
    kestrel::LoadResult missing = opened.module.Load((dir.path() / "absent.xml").string());
    EXPECT_EQ(missing.error.code, Error::NotFound);
    EXPECT_EQ(missing.error.moduleMessage, malformed.error.moduleMessage);
}

TEST(ModuleTest, AMissingLibraryKeepsTheSystemsReasonAndLoadsNothing) {
    const std::string path = "/no/such/dir/libserializedContent.so";
    kestrel::ModuleResult opened = kestrel::OpenModule(path);
    EXPECT_EQ(opened.error.code, Error::ModuleUnavailable);
    EXPECT_FALSE(opened.error.moduleMessage.empty());
    EXPECT_EQ(opened.error.description(),
              path + ": cannot open the module: " + opened.error.moduleMessage);
    EXPECT_FALSE(opened.module);
    EXPECT_EQ(opened.module.Load(Example("assembly.xml")).error.code, Error::ModuleUnavailable);
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
