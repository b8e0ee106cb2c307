#include "kernel/Loader.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../serializedContent/TestFiles.h"
#include "utilities/FileSystem.h"

namespace {

namespace fs = std::filesystem;

const std::string kModuleDir = KESTREL_TEST_MODULE_DIR;
const std::string kDummyPath = kModuleDir + "/" + ComponentLibrary::PlatformFileName("test_dummy");

// Reads a counter of the test module without opening it a second time.
int DummyCounter(const char* name) {
    void* handle = dlopen(kDummyPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return 0;
    auto counter = reinterpret_cast<int (*)()>(dlsym(handle, name));
    int value = counter ? counter() : -1;
    dlclose(handle);
    return value;
}

// Sets or clears an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnvironment() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string Join(const std::vector<std::string>& directories) {
    std::string text;
    for (const std::string& directory : directories)
        text += (text.empty() ? "" : ", ") + directory;
    return text;
}

// Empty entries of the variable are skipped; the kernel's own directory comes last.
TEST(LoaderTest, SearchPathIsTheEnvironmentThenTheKernelDirectory) {
#if defined(_WIN32)
    GTEST_SKIP() << "the variable holds a colon-separated POSIX path list";
#endif
    {
        ScopedEnvironment environment("KESTREL_MODULE_PATH", nullptr);
        EXPECT_EQ(Loader().GetSearchPath().size(), 1u);
    }
    ScopedEnvironment environment("KESTREL_MODULE_PATH", ":/opt/a::/opt/b:");
    Loader loader;
    loader.AddSearchPath("/opt/c");
    loader.AddSearchPath("");
    std::vector<std::string> path = loader.GetSearchPath();
    ASSERT_EQ(path.size(), 4u);
    EXPECT_EQ(path[0], "/opt/a");
    EXPECT_EQ(path[1], "/opt/b");
    EXPECT_TRUE(
        fs::exists(fs::path(path[2]) / ComponentLibrary::PlatformFileName("kestrel_kernel")))
        << path[2];
    EXPECT_EQ(path[3], "/opt/c");
}

// Each load makes a new component, but the library is opened (and its init run) only once,
// also when many threads load at the same time.
TEST(LoaderTest, LoadsAModuleFoundOnTheSearchPathOnce) {
    testfiles::TempDir empty;
    Loader loader;
    loader.AddSearchPath(empty.path().string());
    loader.AddSearchPath(kModuleDir);
    const int initsBefore = DummyCounter("TestDummyInitCalls");
    SmartPtr<RefCounted> module;
    ASSERT_TRUE(loader.LoadModule("probe", "test", "dummy", module)) << loader.GetLastError();
    ASSERT_TRUE(module);
    EXPECT_EQ(loader.GetLastError(), "");
    const int live = DummyCounter("TestDummyLiveComponents");
    EXPECT_GE(live, 1);
    std::atomic<int> loaded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                SmartPtr<RefCounted> another;
                if (loader.LoadModule("probe", "test", "dummy", another) && another &&
                    another != module)
                    ++loaded;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(loaded.load(), 80);
    EXPECT_EQ(DummyCounter("TestDummyInitCalls"), initsBefore + 1);
    EXPECT_EQ(DummyCounter("TestDummyLiveComponents"), live);
}

// A failed load leaves the caller's module alone and says why; a broken candidate does not
// hide a good one further down the path, and a success clears the last error.
TEST(LoaderTest, FailedLoadsTellWhyAndLeaveTheModuleAlone) {
#if defined(_WIN32)
    GTEST_SKIP() << "expects the dynamic linker's messages of Linux";
#endif
    testfiles::TempDir broken;
    for (const char* name : {"test_broken", "test_dummy"})
        std::ofstream(broken.path().string() + "/" + ComponentLibrary::PlatformFileName(name))
            << "not a library";
    struct FailureCase {
        const char* role;
        const char* family;
        const char* format;
        std::string expected;  // the error, or a text it must contain when contains is set
        bool contains;
    };
    Loader loader;
    loader.AddSearchPath(broken.path().string());
    SmartPtr<RefCounted> module;
    EXPECT_FALSE(loader.LoadModule("probe", "test", "dummy", module));
    EXPECT_NE(loader.GetLastError().find(broken.path().string()), std::string::npos)
        << loader.GetLastError();
    loader.AddSearchPath(kModuleDir);
    const FailureCase cases[] = {
        {"probe", "test", "missing",
         "no module test_missing on the search path (" + Join(loader.GetSearchPath()) + ")", false},
        {"saver", "test", "dummy", "module test_dummy made no saver component dummy", false},
        {"probe", "test", "broken",
         broken.path().string() + "/" + ComponentLibrary::PlatformFileName("test_broken"), true},
        {"probe", "../test", "dummy", "invalid module name \"../test_dummy\"", false},
        {"probe", "", "dummy", "invalid module name \"_dummy\"", false},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(std::string(c.role) + " " + c.family + " " + c.format);
        SmartPtr<RefCounted> sentinel(new RefCounted());
        module = sentinel;
        EXPECT_FALSE(loader.LoadModule(c.role, c.family, c.format, module));
        EXPECT_EQ(module, sentinel);
        if (c.contains) {
            EXPECT_NE(loader.GetLastError().find(c.expected), std::string::npos)
                << loader.GetLastError();
        } else {
            EXPECT_EQ(loader.GetLastError(), c.expected);
        }
    }
    module = nullptr;
    EXPECT_TRUE(loader.LoadModule("probe", "test", "dummy", module)) << loader.GetLastError();
    EXPECT_TRUE(module);
    EXPECT_EQ(loader.GetLastError(), "");
}

// Threads asking at once agree on the one framework; it can be replaced and removed, and a
// removed framework does not come back by itself.
TEST(LoaderTest, TheFrameworkIsMadeOnceAndCanBeReplacedOrRemoved) {
    std::vector<SmartPtr<Loader>> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = Loader::GetLoader(); });
    for (std::thread& thread : threads)
        thread.join();
    SmartPtr<Loader> framework = Loader::GetLoader();
    ASSERT_TRUE(framework);
    for (const SmartPtr<Loader>& loader : seen)
        EXPECT_EQ(loader, framework);
    EXPECT_EQ(Loader::SetLoader(nullptr), framework);
    EXPECT_FALSE(Loader::GetLoader());
    EXPECT_FALSE(Loader::GetLoader());
    SmartPtr<Loader> mine(new Loader());
    EXPECT_FALSE(Loader::SetLoader(mine));
    EXPECT_EQ(Loader::GetLoader(), mine);
    EXPECT_EQ(Loader::SetLoader(framework), mine);
    EXPECT_EQ(Loader::GetLoader(), framework);
}

int CallCounter(const ComponentLibrary& library, const char* name) {
    auto counter = reinterpret_cast<int (*)()>(library.FindSymbol(name));
    return counter ? counter() : -1;
}

// Components outlive the object that opened their library.
TEST(ComponentLibraryTest, ComponentsOutliveTheLibraryObject) {
#if !defined(_WIN32) && !defined(__APPLE__)
    EXPECT_EQ(ComponentLibrary::PlatformFileName("image_bmp"), "libimage_bmp.so");
#endif
    std::string error;
    SmartPtr<ComponentLibrary> library = ComponentLibrary::Open(kDummyPath, &error);
    ASSERT_TRUE(library) << error;
    EXPECT_EQ(library->GetPath(), kDummyPath);
    EXPECT_EQ(library->FindSymbol(nullptr), nullptr);
    const int live = CallCounter(*library, "TestDummyLiveComponents");
    SmartPtr<RefCounted> component;
    ASSERT_TRUE(library->CreateComponent("probe", "dummy", component));
    library = nullptr;
    SmartPtr<ComponentLibrary> again = ComponentLibrary::Open(kDummyPath, &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(CallCounter(*again, "TestDummyLiveComponents"), live + 1);
    component = nullptr;
    EXPECT_EQ(CallCounter(*again, "TestDummyLiveComponents"), live);
}

// The path of the utilities library: a real library that exports no factory.
std::string UtilitiesLibraryPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&Utf8ToWideStr), &info) || !info.dli_fname)
        return {};
    return info.dli_fname;
}

TEST(ComponentLibraryTest, OpenFailuresTellWhy) {
    testfiles::TempDir temp;
    const fs::path& dir = temp.path();
    const std::string text = (dir / "libnot_a_library.so").string();
    std::ofstream(text) << "this is not a shared library\n";
    const std::string utilities = UtilitiesLibraryPath();
    ASSERT_FALSE(utilities.empty());

    struct OpenCase {
        const char* name;
        std::string path;
        std::string expectedError;  // whole text, or empty to only require one naming the path
    };
    const OpenCase cases[] = {
        {"missing file", (dir / "libmissing.so").string(), ""},
        {"not a library", text, ""},
        {"directory", dir.string(), ""},
        {"no factory", utilities, utilities + ": exports no OrbDllCreateComponent"},
        {"empty path", "", "no library path given"},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(ComponentLibrary::Open(c.path, &error));
        if (c.expectedError.empty()) {
            EXPECT_NE(error.find(c.path), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, c.expectedError);
        }
        // Without a place for the error the failure is still clean.
        EXPECT_FALSE(ComponentLibrary::Open(c.path, nullptr));
    }
}

}  // namespace
