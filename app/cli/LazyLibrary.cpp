#include "app/cli/LazyLibrary.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

extern "C" void* dravelin_lazy_symbol(DravelinLazyLibrary* library, unsigned index)
{
    // Two threads may make the first call at once; the stubs themselves read the slots unlocked.
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    void** slot = &library->slots[index];
    if (void* resolved = __atomic_load_n(slot, __ATOMIC_ACQUIRE))
        return resolved;
    if (!library->handle)
        library->handle = dlopen(library->soname, RTLD_NOW | RTLD_GLOBAL);
    void* resolved = library->handle ? dlsym(library->handle, library->names + library->offsets[index]) : nullptr;
    if (!resolved) {
        std::fprintf(stderr, "dravelin-dicom: %s\n", dlerror());
        std::_Exit(127);
    }
    __atomic_store_n(slot, resolved, __ATOMIC_RELEASE);
    return resolved;
}
