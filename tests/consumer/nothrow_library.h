// An application's own shared library on the C++ interface, built without
// exceptions: it prints through vdl::NothrowPrinter and hands the error
// codes to the program that loaded it.
#ifndef VDL_CONSUMER_NOTHROW_LIBRARY_H
#define VDL_CONSUMER_NOTHROW_LIBRARY_H

#include <system_error>

#define NOTHROW_LIBRARY_API __attribute__((visibility("default")))

// Prints picture, rescaled to 64 pixels, as a label on the printer at port;
// the first failure, or none.
NOTHROW_LIBRARY_API std::error_code printPictureLabel(const char *port, const char *picture);
// True when this library takes error for "the image file cannot be opened".
NOTHROW_LIBRARY_API bool isImageOpen(std::error_code error);
// The interface's connection state (its lock among it) as this library sees it.
NOTHROW_LIBRARY_API const void *connectionStateSeen();

#endif
