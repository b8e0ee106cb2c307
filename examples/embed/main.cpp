// Loads a content file through the module, prints what it holds and saves a copy of it.
#include <cstdio>
#include <vector>

#include "kestrel/load/Content.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: embed INPUT COPY\n");
        return 2;
    }
    kestrel::LoadResult loaded = kestrel::Load(argv[1]);
    if (!loaded) {
        std::fprintf(stderr, "embed: %s\n", loaded.error.description().c_str());
        return 1;
    }
    // Every element from the top element "figure" down (as kestrel-sc info counts them).
    std::size_t elements = 0, properties = 0;
    std::vector<const SerializedContentElement*> pending{loaded.tree.get()};
    while (!pending.empty()) {
        const SerializedContentElement* element = pending.back();
        pending.pop_back();
        ++elements;
        properties += element->GetProperties().size();
        for (std::size_t i = 0; i < element->GetChildCount(); ++i)
            pending.push_back(element->GetChild(i));
    }
    std::printf("%s: %zu elements, %zu properties\n", argv[1], elements, properties);
    if (kestrel::Error error = kestrel::Save(*loaded.tree, argv[2])) {
        std::fprintf(stderr, "embed: %s\n", error.description().c_str());
        return 1;
    }
    std::printf("saved %s\n", argv[2]);
    return 0;
}
