// The DLL's own allocation functions. The module allocates only through
// new (std::nothrow) and never throws, so it is built without exceptions;
// these keep the C++ runtime's exception-throwing operator new, and with it
// the unwinder, out of the DLL. The static unwinder registers the DLL's
// frames on every load under a lock whose semaphore it never closes: one
// handle lost per LoadLibrary/FreeLibrary.
#include <cstdlib>
#include <new>

void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size != 0 ? size : 1); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size != 0 ? size : 1); }
void operator delete(void *block) noexcept { std::free(block); }
void operator delete[](void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }
void operator delete[](void *block, std::size_t) noexcept { std::free(block); }
void operator delete(void *block, const std::nothrow_t &) noexcept { std::free(block); }
void operator delete[](void *block, const std::nothrow_t &) noexcept { std::free(block); }
