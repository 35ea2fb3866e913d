// Pointers to the MBIM port library's entry points, and owners for the
// loaded library and for an open MBIM handle.
#pragma once

#include "mbim_port_api.h"
#include "win32.h"

// The library's contract, its calling convention and the entry points'
// types included: mbim_port_api.h.
const char kMbimLibraryName[] = "MbimPortAPI.dll";

// Owns a loaded library and unloads it when it goes out of scope.
class LibraryGuard {
public:
    explicit LibraryGuard(HMODULE module) : module_(module) {}
    ~LibraryGuard()
    {
        if (module_ != NULL)
            FreeLibrary(module_);
    }
    LibraryGuard(const LibraryGuard &) = delete;
    LibraryGuard &operator=(const LibraryGuard &) = delete;

    HMODULE get() const { return module_; }

    // The entry point `name` as a typed pointer; NULL when it is missing.
    template <typename Function>
    Function EntryPoint(const char *name) const
    {
        // Through void(*)(void), the one function type GCC lets any other
        // convert to without a cast-function-type warning.
        return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_;
};

// Owns an MBIM handle from a successful MBIM_DllOpen and closes it with
// MBIM_DllClose when it goes out of scope.
class MbimHandleGuard {
public:
    MbimHandleGuard(MbimDllCloseFunction *close, void *handle) : close_(close), handle_(handle) {}
    ~MbimHandleGuard() { close_(handle_); }
    MbimHandleGuard(const MbimHandleGuard &) = delete;
    MbimHandleGuard &operator=(const MbimHandleGuard &) = delete;

    void *get() const { return handle_; }

private:
    MbimDllCloseFunction *close_;
    void *handle_;
};
