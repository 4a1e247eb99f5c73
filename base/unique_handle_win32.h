#pragma once
// Windows handles of our own, closed when dropped. The system marks a failed open in two ways: CreateFile
// gives INVALID_HANDLE_VALUE, most other calls (CreateEvent, LoadLibrary) give null.

#include "base/unique_handle.h"

#include <windows.h>

namespace tessera {

// A file or device, as CreateFile opens it.
struct FileHandleCloser {
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using UniqueFileHandle = UniqueHandle<FileHandleCloser>;

// An event, or any other object whose creation gives null on failure.
struct KernelHandleCloser {
    using Handle = HANDLE;
    static Handle invalid() { return nullptr; }
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleCloser>;

// A library loaded at run time.
struct ModuleCloser {
    using Handle = HMODULE;
    static Handle invalid() { return nullptr; }
    void operator()(HMODULE m) const { ::FreeLibrary(m); }
};
using UniqueModule = UniqueHandle<ModuleCloser>;

} // namespace tessera
