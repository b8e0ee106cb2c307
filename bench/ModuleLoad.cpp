#include "ModuleLoad.h"

#include <cstdlib>
#include <filesystem>

#include "kernel/Anchor.h"
#include "kernel/AsyncEvent.h"
#include "kernel/FileParser.h"

namespace kestrelbench {

ModuleLoader ModuleLoader::Open(std::string& error) {
    ModuleLoader loader;
    std::string path;
    if (const char* named = std::getenv("KESTREL_SC_MODULE"); named && *named) {
        path = named;
    } else {
        std::error_code failure;
        const std::filesystem::path here =
            std::filesystem::read_symlink("/proc/self/exe", failure).parent_path();
        const std::string file = ComponentLibrary::PlatformFileName("serializedContent");
        path = (here / ".." / "lib" / file).string();
        if (!std::filesystem::is_regular_file(path, failure))
            path = (here / file).string();
    }
    loader.library_ = ComponentLibrary::Open(path, &error);
    return loader;
}

SmartPtr<SerializedContentElement> ModuleLoader::Load(const std::string& path,
                                                      std::string& error) const {
    SmartPtr<RefCounted> component;
    if (!library_->CreateComponent("loader", "serializedcontent", component) || !component) {
        error = "the module made no content loader";
        return {};
    }
    auto* loader = dynamic_cast<orbloader::SerializedContentParser*>(component.get());
    if (!loader) {
        error = "the module's loader is not a content loader";
        return {};
    }
    SmartPtr<SerializedContentLoaderEvent> event(new SerializedContentLoaderEvent);
    SmartPtr<Anchor> anchor(new Anchor(Symbol::EMPTY));
    loader->LoadSerializedContent(Symbol(path), anchor, event.get());
    event->Wait();
    SmartPtr<SerializedContentElement> tree;
    if (event->GetStatus() == BaseAsyncEvent::SUCCEEDED)
        tree = event->GetSerializedContent();
    if (!tree) {
        error = path + ": " + std::string(event->GetErrorMessage());
        if (error.size() == path.size() + 2)
            error += "the load ended without content";
    }
    return tree;
}

}  // namespace kestrelbench
