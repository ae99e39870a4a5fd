// The one object of the C++ interface's error category. std::error_code
// compares categories by address, so a category defined in the header alone
// would be a different object in each shared object that includes it; the
// library holds the only one, and vdl::category() returns it.
#include "VdlLabelAPI.hpp"

extern "C" const void *VdlErrorCategory(void) {
    static const vdl::detail::Category instance;
    return &instance;
}
