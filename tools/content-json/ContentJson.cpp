#include "ContentJson.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "kernel/SerializedContentElement.h"

namespace contentjson {

namespace {

// A JSON string literal; bytes that are not UTF-8 become U+FFFD so the output stays valid JSON.
void AppendString(std::string& out, std::string_view text) {
    out += nlohmann::json(std::string(text))
               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

constexpr std::size_t kMaxIndentDepth = 64;

class JsonWriter {
public:
    JsonWriter(std::string& out, int indent) : out_(out), indent_(indent > 0 ? indent : 0) {}

    // Indentation stops growing past kMaxIndentDepth so that very deep trees stay linear in size.
    void NewLine(std::size_t depth) {
        if (indent_ == 0)
            return;
        out_ += '\n';
        out_.append(std::min(depth, kMaxIndentDepth) * indent_, ' ');
    }
    const char* Separator() const { return indent_ ? ": " : ":"; }

    // Opens an element object up to the "children" array, which is left open.
    void OpenElement(const SerializedContentElement& element, std::size_t depth) {
        out_ += '{';
        NewLine(depth + 1);
        out_ += "\"name\"";
        out_ += Separator();
        AppendString(out_, element.GetName().view());
        out_ += ',';
        NewLine(depth + 1);
        out_ += "\"properties\"";
        out_ += Separator();
        out_ += '[';
        const auto& properties = element.GetProperties();
        for (std::size_t i = 0; i < properties.size(); ++i) {
            if (i)
                out_ += ',';
            NewLine(depth + 2);
            WriteProperty(properties[i]);
        }
        if (!properties.empty())
            NewLine(depth + 1);
        out_ += "],";
        NewLine(depth + 1);
        out_ += "\"children\"";
        out_ += Separator();
        out_ += '[';
    }

    void CloseElement(bool hadChildren, std::size_t depth) {
        if (hadChildren)
            NewLine(depth + 1);
        out_ += ']';
        NewLine(depth);
        out_ += '}';
    }

private:
    void WriteProperty(const SerializedContentElement::Property& property) {
        out_ += "{\"name\"";
        out_ += Separator();
        AppendString(out_, property.name.view());
        out_ += "}";
    }

    std::string& out_;
    std::size_t indent_;
};

}  // namespace

std::string WriteContentJson(const SerializedContentElement& element,
                             const JsonWriteOptions& options) {
    std::string out;
    JsonWriter writer(out, options.indent);
    // Frames hold an open element, its depth in the output and its next child.
    struct Frame {
        const SerializedContentElement* element;
        std::size_t depth;
        std::size_t nextChild;
    };
    std::vector<Frame> stack{{&element, 0, 0}};
    writer.OpenElement(element, 0);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.nextChild == frame.element->GetChildCount()) {
            writer.CloseElement(frame.nextChild != 0, frame.depth);
            stack.pop_back();
            continue;
        }
        if (frame.nextChild)
            out += ',';
        const SerializedContentElement* child = frame.element->GetChild(frame.nextChild++);
        std::size_t depth = frame.depth + 2;
        writer.NewLine(depth);
        writer.OpenElement(*child, depth);
        stack.push_back({child, depth, 0});
    }
    out += '\n';
    return out;
}

}  // namespace contentjson
