// The objects the C++ interface needs once per process. std::error_code
// compares categories by address, and a lock must be one lock: defined in the
// header alone, each would be a different object in each shared object that
// includes it (a plug-in, a library built with hidden visibility), so the
// library holds the only ones.
#include "VdlLabelAPI.hpp"

extern "C" const void *VdlErrorCategory(void) {
    static const vdl::detail::Category instance;
    return &instance;
}

extern "C" void *VdlInterfaceState(void) {
    static vdl::detail::Connection *const state = [] {
        static vdl::detail::Connection instance;
        // A fork waits for the call under way, so that the child's copy of
        // the lock and of the command buffer is never caught half-way; the
        // child then starts with a lock of its own.
        pthread_atfork([] { pthread_mutex_lock(&state->mutex); }, [] { pthread_mutex_unlock(&state->mutex); },
                       [] { state->initMutex(); });
        return &instance;
    }();
    return state;
}
