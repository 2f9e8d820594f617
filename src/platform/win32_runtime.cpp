// The C++ allocation functions of Tavrol.exe, over the C runtime's heap. Without them one
// `new (std::nothrow)` links libstdc++'s throwing operator new and with it the exception
// runtime, the unwinder and the demangler: more than 100 KiB and imports (CreateSemaphoreW,
// GetModuleHandleW, IsDBCSLeadByteEx) that Windows 98 SE does not have. Nothing here throws.

#include <stdlib.h>

#include <new>

void* operator new(size_t size) {
    return malloc(size ? size : 1);
}
void* operator new[](size_t size) {
    return malloc(size ? size : 1);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return malloc(size ? size : 1);
}
void operator delete(void* block) noexcept {
    free(block);
}
void operator delete[](void* block) noexcept {
    free(block);
}
void operator delete(void* block, size_t) noexcept {
    free(block);
}
void operator delete[](void* block, size_t) noexcept {
    free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    free(block);
}

// A pure virtual call is a bug; end the process rather than link the verbose terminate handler.
extern "C" void __cxa_pure_virtual() {
    abort();
}
