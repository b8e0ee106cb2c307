// Loaders and writers on many threads at once. Run under ThreadSanitizer (scripts/tsan) these also
// prove the host's fetch workers, event completion and the module's name tables race-free.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/XmlElem.h"
#include "kernel/Anchor.h"
#include "kernel/AsyncEvent.h"
#include "kestrel/load/Content.h"
#include "serializedContent/SerializedContentParser.h"
#include "serializedContent/TestFiles.h"

namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 8;

const std::vector<std::string> kExamples{"assembly.xml", "images.xml",     "meshes.xml",
                                         "naming.xml",   "properties.xml", "showcase.xml"};

std::string Example(const std::string& name) {
    return std::string(KESTREL_EXAMPLES_DIR) + "/" + name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text a tree writes, the yardstick for "the same tree" here.
std::string TextOf(const kestrel::LoadResult& loaded) {
    if (!loaded)
        return "error: " + loaded.error.description();
    kestrel::Error error;
    std::string text = kestrel::SaveText(*loaded.tree, &error);
    return error ? "error: " + error.description() : text;
}

// Runs body(thread) on kThreads threads at once, released together.
template <class Body>
void OnThreads(Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < kThreads)
                std::this_thread::yield();
            body(t);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

// Each thread loads every example in its own order, so the same file and different files are
// loaded at once; every load gives what a load on its own gives, a bad file its one error.
TEST(ConcurrencyTest, LoadsOnManyThreadsGiveWhatOneLoadGives) {
    testfiles::TempDir dir;
    std::vector<std::string> files;
    for (const std::string& name : kExamples)
        files.push_back(Example(name));
    files.push_back(dir.Write("bad.xml", "<root><a></root>\n").string());
    std::vector<std::string> expected;
    for (const std::string& file : files)
        expected.push_back(TextOf(kestrel::Load(file)));
    ASSERT_NE(expected.back().find("error: "), std::string::npos);

    constexpr int kRounds = 3;
    std::atomic<int> mismatches{0};
    OnThreads([&](int thread) {
        for (int round = 0; round < kRounds; ++round) {
            for (std::size_t i = 0; i < files.size(); ++i) {
                const std::size_t which = (i + static_cast<std::size_t>(thread)) % files.size();
                if (TextOf(kestrel::Load(files[which])) != expected[which])
                    ++mismatches;
            }
        }
    });
    EXPECT_EQ(mismatches.load(), 0);
}

// Writers on separate trees, to text and to files, at the same time.
TEST(ConcurrencyTest, WritersOnSeparateTreesAtOnce) {
    testfiles::TempDir dir;
    std::vector<kestrel::LoadResult> trees;
    std::vector<std::string> expected;
    for (int t = 0; t < kThreads; ++t) {
        trees.push_back(kestrel::Load(Example(kExamples[static_cast<std::size_t>(t) % 6])));
        ASSERT_TRUE(trees.back()) << trees.back().error.description();
        expected.push_back(TextOf(trees.back()));
    }
    std::atomic<int> mismatches{0};
    OnThreads([&](int thread) {
        const auto t = static_cast<std::size_t>(thread);
        const std::string path = (dir.path() / ("out" + std::to_string(t) + ".xml")).string();
        for (int round = 0; round < 4; ++round) {
            if (kestrel::SaveText(*trees[t].tree) != expected[t])
                ++mismatches;
            if (kestrel::Save(*trees[t].tree, path) || ReadFile(path) != expected[t])
                ++mismatches;
        }
    });
    EXPECT_EQ(mismatches.load(), 0);
}

// A load whose loader the caller lets go of at once still ends, and ends well: the pending fetch
// keeps what it needs alive.
// Element trees made with NewXmlElem on one thread and freed on another, most of them after the
// thread that made them has ended: the records of a block go back whichever thread frees them.
TEST(ConcurrencyTest, ElementTreesFreedOnOtherThreadsThanMadeThem) {
    std::mutex lock;
    std::vector<XmlElem*> made;
    OnThreads([&](int thread) {
        for (int round = 0; round < 20; ++round) {
            XmlElem* root = NewXmlElem(Symbol("root"), false);
            for (int i = 0; i < 200; ++i) {
                XmlElem* child = NewXmlElem(Symbol("child"), false);
                child->SetAttribute(Symbol("n"), static_cast<std::uint32_t>(i));
                root->AddChild(child);
            }
            XmlElem* other = nullptr;
            {
                std::lock_guard<std::mutex> guard(lock);
                made.push_back(root);
                if (thread % 2 == 1 && made.size() > 1) {
                    other = made.front();
                    made.erase(made.begin());
                }
            }
            if (other) {
                EXPECT_EQ(other->GetChildCount(), 200u);
                EXPECT_EQ(other->GetChild(199)->GetAttributeText(0), "199");
                FreeXml(other);
            }
        }
    });
    for (XmlElem* root : made) {
        EXPECT_EQ(root->GetChildCount(), 200u);
        FreeXml(root);
    }
}

// Texts of a parsed tree become strings when first asked for; threads asking at once all get
// the one string.
TEST(ConcurrencyTest, ParsedTextsAskedForOnManyThreadsAtOnce) {
    std::string xml = "<r>";
    for (int i = 0; i < 500; ++i)
        xml += "<e>text " + std::to_string(i) + " &amp; more</e><f>" + std::to_string(i) + "</f>";
    xml += "</r>";
    XmlTree root(ParseXml(xml, false, nullptr));
    ASSERT_NE(root, nullptr);
    std::vector<std::vector<const std::string*>> seen(kThreads);
    OnThreads([&](int thread) {
        for (std::size_t i = 0; i < root->GetChildCount(); ++i) {
            const XmlElem* child = root->GetChild(i);
            EXPECT_EQ(child->GetTextAsInt(), i % 2 == 1 ? static_cast<int>(i / 2) : 0);
            seen[static_cast<std::size_t>(thread)].push_back(&child->GetText());
        }
    });
    for (std::size_t i = 0; i < root->GetChildCount(); ++i) {
        const std::string expected =
            i % 2 == 1 ? std::to_string(i / 2) : "text " + std::to_string(i / 2) + " & more";
        for (const auto& pointers : seen) {
            EXPECT_EQ(pointers[i], seen[0][i]);
            EXPECT_EQ(*pointers[i], expected);
        }
    }
}

TEST(ConcurrencyTest, LoaderLetGoWhileItsFetchIsPending) {
    constexpr int kLoads = 24;
    std::vector<SmartPtr<SerializedContentLoaderEvent>> events;
    for (int i = 0; i < kLoads; ++i) {
        SmartPtr<serializedContent::SerializedContentParser> loader(
            new serializedContent::SerializedContentParser);
        SmartPtr<SerializedContentLoaderEvent> event(new SerializedContentLoaderEvent);
        loader->LoadSerializedContent(Symbol(Example(kExamples[i % 6])), SmartPtr<Anchor>(),
                                      event.get());
        events.push_back(event);
    }
    for (const auto& event : events) {
        ASSERT_TRUE(event->WaitFor(std::chrono::seconds(60)));
        EXPECT_TRUE(event->GetSerializedContent());
    }
}

// A file truncated, rewritten and replaced while other threads load it: every load gives the
// whole tree or fails with an error, never a crash or a tree of half a file.
TEST(ConcurrencyTest, FileChangingUnderTheLoaders) {
#if defined(_WIN32)
    GTEST_SKIP() << "replaces a file that loaders hold open, which Windows refuses";
#endif
    testfiles::TempDir dir;
    const std::string content = ReadFile(Example("showcase.xml"));
    const fs::path path = dir.Write("moving.xml", content);
    const std::string whole = TextOf(kestrel::Load(path.string()));
    ASSERT_EQ(whole.find("error: "), std::string::npos) << whole;

    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int round = 0; !done.load(); ++round) {
            if (round % 3 == 2) {
                const fs::path fresh = dir.Write("fresh.xml", content);
                fs::rename(fresh, path);
            } else {
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out.write(content.data(),
                          static_cast<std::streamsize>(round % 3 == 0 ? content.size() / 2
                                                                      : content.size()));
            }
        }
    });
    std::atomic<int> loaded{0}, failed{0}, wrong{0};
    std::vector<std::thread> loaders;
    for (int t = 0; t < 4; ++t) {
        loaders.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                const kestrel::LoadResult result = kestrel::Load(path.string());
                if (!result)
                    ++failed;
                else if (TextOf(result) == whole)
                    ++loaded;
                else
                    ++wrong;
            }
        });
    }
    for (std::thread& loader : loaders)
        loader.join();
    done = true;
    changer.join();
    EXPECT_EQ(loaded + failed, 80);
    EXPECT_EQ(wrong.load(), 0) << "a load gave a tree that is neither the file nor an error";
}

}  // namespace
