// The render service's live page: the labels the printer port prints, as
// they print, with their decoded commands. Served from the program itself,
// it loads nothing from elsewhere; every text it shows from the data is set
// as text, never as markup.
#ifndef VDL_EMULATOR_LIVE_PAGE_H
#define VDL_EMULATOR_LIVE_PAGE_H

namespace vdlemu {

extern const char *const kLivePage;        // GET /
extern const char *const kLivePageScript;  // GET /page.js

}  // namespace vdlemu

#endif
