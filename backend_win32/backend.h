#pragma once
// The Windows backend behind the platform seams, for the programs that pick
// one. Free of <windows.h>, so that its macros stay out of the programs.

#include <memory>
#include <string>

#include "platform/ndis_library.h"
#include "platform/registry.h"

namespace varnel::win32 {

// The access library ZRW32N50.dll, loaded now. Never null: a library that
// cannot be loaded, or lacks a function, answers like one whose driver does
// not load, and `problem` then says why (else it is left empty).
std::unique_ptr<NdisLibrary> LoadAccessLibrary(std::string* problem);

// The Win32 registry, read only.
std::unique_ptr<Registry> OpenRegistry();

}  // namespace varnel::win32
