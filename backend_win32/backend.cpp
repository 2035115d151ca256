#include "backend_win32/backend.h"

#include "backend_win32/access_library.h"
#include "platform/library_path_win32.h"
#include "backend_win32/registry.h"

namespace varnel::win32 {

std::unique_ptr<NdisLibrary> LoadAccessLibrary(std::string* problem) {
    RestrictDllSearch();
    auto library = std::make_unique<AccessLibrary>();
    if (problem) *problem = library->Problem();
    return library;
}

std::unique_ptr<Registry> OpenRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace varnel::win32
