#pragma once

// Libraries the tool loads at the first call of one of their functions, not at start-up: the
// stubs that scripts/lazy-stubs.py writes for them call dravelin_lazy_symbol() once per function.
extern "C" {

struct DravelinLazyLibrary
{
    const char* soname;
    const char* names;        // the stubbed functions' names, each ending in NUL
    const unsigned* offsets;  // where each name starts in `names`, by stub index
    void** slots;             // each stub's resolved function, null until its first call
    void* handle;             // from dlopen(), null until the first call of any stub
};

// The function behind stub `index` of `library`, loading the library first if needed. A library
// or function that cannot be found ends the process, as a missing library at start-up would.
void* dravelin_lazy_symbol(DravelinLazyLibrary* library, unsigned index);
}
