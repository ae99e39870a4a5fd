// Built as C++17 and as C++20 with -pedantic: every member of both printer
// forms is instantiated, so the whole header is compiled.
#include "VdlLabelAPI.hpp"

template class vdl::BasicPrinter<vdl::detail::Throwing>;
template class vdl::BasicPrinter<vdl::detail::ErrorCodes>;
