#include "ModuleLoad.h"

#include <cstdlib>

namespace kestrelbench {

ModuleLoader ModuleLoader::Open(std::string& error) {
    ModuleLoader loader;
    const char* named = std::getenv("KESTREL_SC_MODULE");
    kestrel::ModuleResult opened = kestrel::OpenModule(named ? named : "");
    if (!opened)
        error = opened.error.description();
    loader.module_ = opened.module;
    return loader;
}

SmartPtr<SerializedContentElement> ModuleLoader::Load(const std::string& path,
                                                      std::string& error) const {
    kestrel::LoadResult loaded = module_.Load(path);
    if (!loaded)
        error = loaded.error.description();
    return loaded.tree;
}

}  // namespace kestrelbench
