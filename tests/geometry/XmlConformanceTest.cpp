// ParseXml against James Clark's XML test cases, read where the machine keeps them (the cases are
// not part of this repository; the tests skip when they are absent). Standalone documents that
// are not well-formed must be refused; valid and invalid ones (validity is not checked) must be
// read, and read to the tree of their canonical form where the cases give one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "geometry/XmlElem.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCases = KESTREL_XMLCONF_DIR;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The .xml files of a folder of cases, in name order.
std::vector<fs::path> CaseFiles(const std::string& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kCases / folder, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".xml")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Cases the catalog marks as belonging to earlier editions only: documents that the fifth
// edition's wider name characters made well-formed.
std::set<std::string> EarlierEditionsOnly() {
    std::set<std::string> uris;
    XmlTree catalog(ParseXml(ReadFile(kCases / "xmltest.xml"), false, nullptr));
    if (!catalog)
        return uris;
    const Symbol uri("URI"), edition("EDITION");
    for (std::size_t i = 0; i < catalog->GetChildCount(); ++i) {
        const XmlElem* test = catalog->GetChild(i);
        const std::size_t editions = test->FindAttribute(edition);
        if (editions != XmlElem::npos &&
            test->GetAttributeText(editions).find('5') == std::string::npos)
            uris.insert(test->GetAttributeText(test->FindAttribute(uri)));
    }
    return uris;
}

std::string Relative(const fs::path& path) {
    return path.lexically_relative(kCases).generic_string();
}

#define SKIP_WITHOUT_CASES()                 \
    if (!fs::exists(kCases / "xmltest.xml")) \
    GTEST_SKIP() << "the XML test cases are not at " << kCases.string()

TEST(XmlConformanceTest, RefusesEveryStandaloneDocumentThatIsNotWellFormed) {
    SKIP_WITHOUT_CASES();
    const std::set<std::string> earlier = EarlierEditionsOnly();
    int refused = 0, total = 0;
    for (const fs::path& file : CaseFiles("not-wf/sa")) {
        const std::string name = Relative(file);
        std::string error;
        XmlTree root(ParseXml(ReadFile(file), false, &error));
        if (earlier.count(name)) {
            EXPECT_NE(root, nullptr) << name << " is well-formed in the fifth edition: " << error;
            continue;
        }
        ++total;
        if (root) {
            ADD_FAILURE() << name << " was accepted";
            continue;
        }
        EXPECT_FALSE(error.empty()) << name;
        ++refused;
    }
    std::printf("[ xmltest ] not-wf/sa: %d of %d refused\n", refused, total);
    EXPECT_GT(total, 180);
}

TEST(XmlConformanceTest, AcceptsEveryStandaloneValidAndInvalidDocument) {
    SKIP_WITHOUT_CASES();
    for (const char* folder : {"valid/sa", "invalid"}) {
        int accepted = 0, total = 0;
        for (const fs::path& file : CaseFiles(folder)) {
            ++total;
            std::string error;
            XmlTree root(ParseXml(ReadFile(file), false, &error));
            if (root)
                ++accepted;
            else
                ADD_FAILURE() << Relative(file) << " was refused: " << error;
        }
        std::printf("[ xmltest ] %s: %d of %d accepted\n", folder, accepted, total);
        EXPECT_GT(total, 0) << folder;
    }
}

// What the element tree keeps of a document: names, attributes as a set (the canonical form
// sorts them) and each element's text. Gives the first difference, or "".
std::string Difference(const XmlElem& read, const XmlElem& canonical, const std::string& path) {
    const std::string here = path + "/" + std::string(read.GetName().view());
    if (read.GetName() != canonical.GetName())
        return here + ": element named '" + std::string(canonical.GetName().view()) +
               "' in the canonical form";
    std::set<std::pair<std::string, std::string>> a, b;
    for (std::size_t i = 0; i < read.GetAttributeCount(); ++i)
        a.emplace(read.GetAttributeName(i).view(), read.GetAttributeText(i));
    for (std::size_t i = 0; i < canonical.GetAttributeCount(); ++i)
        b.emplace(canonical.GetAttributeName(i).view(), canonical.GetAttributeText(i));
    if (a != b) {
        std::string text = here + ": attributes";
        for (const auto& [name, value] : a)
            text += " " + name + "='" + value + "'";
        text += ", canonical";
        for (const auto& [name, value] : b)
            text += " " + name + "='" + value + "'";
        return text;
    }
    if (read.GetText() != canonical.GetText())
        return here + ": text '" + read.GetText() + "', canonical '" + canonical.GetText() + "'";
    if (read.GetChildCount() != canonical.GetChildCount())
        return here + ": " + std::to_string(read.GetChildCount()) + " children, canonical " +
               std::to_string(canonical.GetChildCount());
    for (std::size_t i = 0; i < read.GetChildCount(); ++i) {
        std::string difference = Difference(*read.GetChild(i), *canonical.GetChild(i), here);
        if (!difference.empty())
            return difference;
    }
    return "";
}

TEST(XmlConformanceTest, ValidDocumentsReadToTheTreeOfTheirCanonicalForm) {
    SKIP_WITHOUT_CASES();
    int same = 0, total = 0;
    for (const fs::path& file : CaseFiles("valid/sa")) {
        const fs::path out = file.parent_path() / "out" / file.filename();
        if (!fs::exists(out))
            continue;
        ++total;
        std::string error;
        XmlTree read(ParseXml(ReadFile(file), true, &error));
        if (!read) {
            ADD_FAILURE() << Relative(file) << " was refused: " << error;
            continue;
        }
        XmlTree canonical(ParseXml(ReadFile(out), true, &error));
        if (!canonical) {
            ADD_FAILURE() << Relative(out) << " was refused: " << error;
            continue;
        }
        const std::string difference = Difference(*read, *canonical, "");
        if (!difference.empty()) {
            ADD_FAILURE() << Relative(file) << " differs from its canonical form at " << difference;
            continue;
        }
        ++same;
    }
    std::printf("[ xmltest ] valid/sa canonical forms: %d of %d the same\n", same, total);
    EXPECT_GT(total, 100);
}

// Documents that need external entities: read when they do not use what is not read, refused
// saying so when they do.
TEST(XmlConformanceTest, DocumentsNeedingExternalEntitiesAreReadOrSayWhatIsNotRead) {
    SKIP_WITHOUT_CASES();
    for (const char* folder : {"valid/not-sa", "valid/ext-sa"}) {
        int accepted = 0, notRead = 0;
        for (const fs::path& file : CaseFiles(folder)) {
            std::string error;
            XmlTree root(ParseXml(ReadFile(file), false, &error));
            if (root) {
                ++accepted;
                continue;
            }
            EXPECT_NE(error.find("not read"), std::string::npos) << Relative(file) << ": " << error;
            ++notRead;
        }
        std::printf("[ xmltest ] %s: %d accepted, %d refused as not read\n", folder, accepted,
                    notRead);
    }
}

}  // namespace
