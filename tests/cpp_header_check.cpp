// Built as C++17 and as C++20 with -pedantic, and without exceptions: every
// member of the printer forms there are is instantiated, so the whole header
// is compiled.
#include "VdlLabelAPI.hpp"

#if defined(__cpp_exceptions)
template class vdl::BasicPrinter<vdl::detail::Throwing>;
#endif
template class vdl::BasicPrinter<vdl::detail::ErrorCodes>;
