// The one-file HTML page of kestrel-sc view: the tree as an outline and its glTF scene drawn
// with three.js, embedded so that the page opens from disk without network.
#pragma once

#include <string>
#include <vector>

#include "kernel/SerializedContentElement.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"

namespace kestrel::view {

// A page, or why there is none.
struct PageResult {
    std::string html;
    std::vector<std::string> notes;  // what the scene's export changed (see gltf::BuildScene)
    Error error;

    // True when the page was built.
    explicit operator bool() const noexcept { return !error; }
};

// The data directory the tool installs beside itself: <program directory>/../share/kestrel-sc,
// holding three/ (three.js and its GLTFLoader and OrbitControls); empty when it cannot be told.
KESTREL_CONTENT_API std::string DefaultDataDirectory();

// Builds the page of element: title as its heading, an outline with every element and property
// (values as kestrel-sc tree prints them, images as pictures), and the scene of
// gltf::BuildScene (transformProperty as there) in a 3-D view. NotFound when a three.js file is
// missing below dataDirectory; otherwise fails as gltf::BuildScene and PackGlb do.
KESTREL_CONTENT_API PageResult BuildViewPage(const SerializedContentElement& element,
                                             const std::string& title,
                                             const std::string& dataDirectory,
                                             const std::string& transformProperty = {});

}  // namespace kestrel::view
