#include "kestrel/Error.h"

namespace kestrel {

std::string Error::description() const {
    if (code == None)
        return {};
    std::string text = path;
    if (line != 0) {
        if (!text.empty())
            text += ':';
        text += std::to_string(line) + ':' + std::to_string(column);
    }
    if (!text.empty())
        text += ": ";
    return text + message;
}

}  // namespace kestrel
