#include "kestrel/files/Console.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
#endif
// MinGW has isatty and write here as well.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "MakeError.h"
#include "kestrel/files/FilePath.h"

namespace kestrel::files {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
#if defined(_WIN32)
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        for (int i = 0; i < count; ++i)
            arguments.push_back(Utf8Of(std::filesystem::path(wide[i])));
        LocalFree(wide);
        return arguments;
    }
#endif
    arguments.assign(argv, argv + argc);
    return arguments;
}

void UseBinaryStandardStreams() {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

Error WriteStandardOutput(std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return MakeError(Error::WriteFailed, std::string("cannot write to standard output: ") +
                                                     std::strerror(errno));
        }
        done += static_cast<std::size_t>(written);
    }
    return {};
}

}  // namespace kestrel::files
