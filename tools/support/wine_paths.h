#pragma once

#include <string>

// A path of the build tree (Unix form, as CMake knows it) as Wine sees it.
inline std::string FromUnixPath(const char* unixPath) {
    std::string path = unixPath;
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}
