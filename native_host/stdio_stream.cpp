#include "native_host/stdio_stream.h"

#include <windows.h>

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

bool StdoutSink::ReaderGone() {
    // A write of nothing fails once the pipe's reader has closed it
    // (ERROR_NO_DATA) and succeeds while it reads; measured under Wine. Every
    // reply is flushed whole, so nothing of ours waits in the stream's buffer.
    const HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD written = 0;
    return WriteFile(out, "", 0, &written, nullptr) == FALSE;
}
