// Tracing helpers on top of printDebugLog.
#ifndef VDL_TRACE_H
#define VDL_TRACE_H

#include "VdlLabelAPI.h"

namespace vdl {

// With tracing off a trace costs this one test; loops that would trace every
// byte ask it first so they cost nothing at all.
inline bool tracingOn() { return gWriteLog == 1; }

}  // namespace vdl

#endif
