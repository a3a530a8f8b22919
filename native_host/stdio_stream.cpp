#include "native_host/stdio_stream.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

bool UseBinaryStdio() noexcept {
    return _setmode(_fileno(stdin), _O_BINARY) != -1 && _setmode(_fileno(stdout), _O_BINARY) != -1;
}

std::size_t StdinSource::Read(char* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, stdin);
}

bool StdoutSink::Write(const char* data, std::size_t size) {
    return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}
