#include "kernel/ComponentLibrary.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../serializedContent/TestFiles.h"
#include "utilities/FileSystem.h"
#include "utilities/RefCounted.h"

namespace {

namespace fs = std::filesystem;

const std::string kDummyPath =
    std::string(KESTREL_TEST_MODULE_DIR) + "/" + ComponentLibrary::PlatformFileName("test_dummy");

int CallCounter(const ComponentLibrary& library, const char* name) {
    auto counter = reinterpret_cast<int (*)()>(library.FindSymbol(name));
    return counter ? counter() : -1;
}

// A module's init runs when it is opened; its factory makes only its own components, which
// outlive the object that opened their library.
TEST(ComponentLibraryTest, OpensAModuleCallsItsInitAndMakesComponents) {
#if defined(_WIN32)
    EXPECT_EQ(ComponentLibrary::PlatformFileName("image_bmp"), "image_bmp.dll");
#elif !defined(__APPLE__)
    EXPECT_EQ(ComponentLibrary::PlatformFileName("image_bmp"), "libimage_bmp.so");
#endif
    std::string error;
    SmartPtr<ComponentLibrary> library = ComponentLibrary::Open(kDummyPath, &error);
    ASSERT_TRUE(library) << error;
    EXPECT_EQ(library->GetPath(), kDummyPath);
    EXPECT_GE(CallCounter(*library, "TestDummyInitCalls"), 1);
    EXPECT_EQ(library->FindSymbol("NoSuchSymbol"), nullptr);
    EXPECT_EQ(library->FindSymbol(nullptr), nullptr);
    for (const auto& [type, name] :
         {std::pair<const char*, const char*>{"saver", "dummy"}, {"probe", "other"}, {"", ""}}) {
        SmartPtr<RefCounted> component;
        EXPECT_FALSE(library->CreateComponent(type, name, component)) << type << "/" << name;
        EXPECT_FALSE(component);
    }
    const int live = CallCounter(*library, "TestDummyLiveComponents");
    SmartPtr<RefCounted> component;
    ASSERT_TRUE(library->CreateComponent("probe", "dummy", component));
    ASSERT_TRUE(component);
    EXPECT_EQ(CallCounter(*library, "TestDummyLiveComponents"), live + 1);
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
