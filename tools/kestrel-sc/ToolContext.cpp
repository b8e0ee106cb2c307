#include <iostream>
#include <vector>

#include "Commands.h"
#include "ContentJson.h"
#include "OutputFile.h"
#include "XmlOutput.h"

namespace kestrelsc {

void ToolContext::Fail(const std::string& message, int exitStatus) {
    std::cerr << "kestrel-sc: error: " << message << '\n';
    status = exitStatus;
}

void ToolContext::Warn(const std::string& message) const {
    if (!quiet)
        std::cerr << "kestrel-sc: warning: " << message << '\n';
}

bool ToolContext::Load(const std::string& path, LoadOutcome& outcome) {
    const int loaded = LoadInput(modulePath, path, outcome);
    if (loaded != kExitOk)
        Fail(outcome.error, loaded);
    return loaded == kExitOk;
}

bool ToolContext::Write(const std::string& path, const std::string& text) {
    std::string error;
    if (WriteOutput(path, text, error))
        return true;
    Fail(error);
    return false;
}

bool ToolContext::Save(const SerializedContentElement& tree, const std::string& path,
                       InputForm form, int jsonIndent) {
    if (form == InputForm::Json) {
        return Write(path, contentjson::WriteContentJson(tree, {jsonIndent}));
    }
    std::string text, error;
    std::vector<std::string> warnings;
    if (!ContentToXml(tree, text, error, warnings)) {
        Fail(error);
        return false;
    }
    for (const std::string& warning : warnings)
        Warn(warning);
    return Write(path, text);
}

}  // namespace kestrelsc
