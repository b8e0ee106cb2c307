#include "Input.h"

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "ContentJson.h"

namespace kestrelsc {

InputForm DetectForm(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return InputForm::Xml;
    std::ifstream in(path, std::ios::binary);
    char buffer[4096];
    in.read(buffer, sizeof buffer);
    std::string_view head(buffer, static_cast<std::size_t>(in.gcount()));
    if (head.substr(0, 3) == "\xEF\xBB\xBF")
        head.remove_prefix(3);
    std::size_t first = head.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && head[first] == '{' ? InputForm::Json : InputForm::Xml;
}

int LoadInput(const std::string& modulePath, const std::string& path, LoadOutcome& outcome) {
    if (DetectForm(path) == InputForm::Json) {
        auto started = std::chrono::steady_clock::now();
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in) {
            outcome.error = path + ": cannot be read";
            return 1;
        }
        contentjson::JsonReadResult result = contentjson::ReadContentJson(text.str());
        outcome.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!result) {
            outcome.error = path + ": " + result.description();
            return 1;
        }
        outcome.tree = result.tree;
        return 0;
    }
    std::string error;
    ContentModule module = ContentModule::Open(modulePath, error);
    if (!module) {
        outcome.error = "cannot open the serialized-content module: " + error;
        return 2;
    }
    outcome = module.Load(path);
    return outcome ? 0 : 1;
}

}  // namespace kestrelsc
