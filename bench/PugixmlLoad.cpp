// kestrel-bench-pugixml-load: a bare pugixml load_file of one document, the yardstick that
// bench/process_load.py times whole processes of `kestrel-sc info` against.
#include <cstdio>

#include <pugixml.hpp>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrel-bench-pugixml-load FILE\n");
        return 2;
    }
    pugi::xml_document document;
    const pugi::xml_parse_result result = document.load_file(argv[1]);
    if (!result) {
        std::fprintf(stderr, "%s: %s at offset %td\n", argv[1], result.description(),
                     result.offset);
        return 1;
    }
    return 0;
}
