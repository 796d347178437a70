#include "api/version.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <dlfcn.h>

#include <cstdlib>
#endif

namespace portiva {

#ifdef _WIN32

namespace {
// Something in the library's own image, to find its file.
void Anchor() {}
} // namespace

std::string LibraryFilePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&Anchor), &module)) {
        return {};
    }
    char file[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, file, sizeof file);
    return std::string(file, length < sizeof file ? length : 0);
}

std::string LibraryVersionText() {
    const std::string path = LibraryFilePath();
    if (path.empty()) {
        return {};
    }
    const char* file = path.c_str();
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeA(file, &unused);
    if (size == 0 || size >= 8192) {
        return {};
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(file, 0, size, block.data())) {
        return {};
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info) {
        return {};
    }
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}

#else

namespace {
// Something in the library's own image, to find its file.
void Anchor() {}
} // namespace

std::string LibraryFilePath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&Anchor), &info) || !info.dli_fname) {
        return {};
    }
    char* full = realpath(info.dli_fname, nullptr);
    if (!full) {
        return info.dli_fname;
    }
    std::string name(full);
    std::free(full);
    return name;
}

// Other platforms carry the version in the file name and SONAME; the build passes it in.
std::string LibraryVersionText() {
    return PORTIVA_VERSION_TEXT;
}

#endif

} // namespace portiva
