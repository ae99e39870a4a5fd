// malloc and calloc of the objects linked into the test program, wrapped
// (-Wl,--wrap=malloc,--wrap=calloc) so that a test can make one allocation
// of a chosen size fail: the library's out-of-memory paths are then reached
// without exhausting the machine. Allocations inside the C and C++ runtimes
// are not wrapped, and every other size passes through untouched.
#include <cerrno>
#include <cstddef>

#include "interpose.h"

extern "C" void *__real_malloc(std::size_t size);
extern "C" void *__real_calloc(std::size_t count, std::size_t size);

namespace {

bool failsNow(std::size_t size) {
    std::size_t &armed = vdltest::callFaults().allocationSize;
    if (armed == 0 || size != armed) return false;
    armed = 0;
    errno = ENOMEM;
    return true;
}

}  // namespace

extern "C" void *__wrap_malloc(std::size_t size) { return failsNow(size) ? nullptr : __real_malloc(size); }

extern "C" void *__wrap_calloc(std::size_t count, std::size_t size) {
    // A product that overflows is never the armed size; calloc refuses it itself.
    std::size_t total = 0;
    if (!__builtin_mul_overflow(count, size, &total) && failsNow(total)) return nullptr;
    return __real_calloc(count, size);
}
