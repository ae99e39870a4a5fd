# The Debian packages (cpack -G DEB in the build directory), split as Debian
# splits a library: the shared library, its -dev package, the tool, the
# Python package and the printer application. What each needs of other
# packages comes from dpkg-shlibdeps; what they need of each other, from the
# components' dependencies, at the same version.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_VENDOR "VdlLabelAPI developers")
set(VDL_DEBIAN_MAINTAINER "VdlLabelAPI developers <vdllabelapi@example.org>" CACHE STRING
    "Maintainer of the Debian packages, name <address>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VDL_DEBIAN_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE vdllabelapi)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs link the library as it lies in the build directory, which no
# installed package holds: dpkg-shlibdeps finds it there and leaves it to the
# component dependency.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/tools/zpl)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")  # the soname changes when compatibility ends
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/compress-manual-pages.cmake)

# Every package carries the copyright and the changelog where Debian wants
# them; the changelog compressed as Debian compresses it (no name, no time).
string(TIMESTAMP vdl_debian_date "%a, %d %b %Y %H:%M:%S +0000" UTC)  # SOURCE_DATE_EPOCH when set
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/debian/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
add_custom_target(vdl-debian-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)

# One package of a component: its name, section, the components it needs, and
# its description (the first line is the summary).
function(vdl_debian_package component package section description)
  string(TOUPPER ${component} key)
  set(CPACK_DEBIAN_${key}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_DEBIAN_${key}_PACKAGE_SECTION ${section} PARENT_SCOPE)
  set(CPACK_DEBIAN_${key}_DESCRIPTION "${description}" PARENT_SCOPE)
  set(CPACK_COMPONENT_${key}_DEPENDS ${ARGN} PARENT_SCOPE)
  install(FILES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endfunction()

vdl_debian_package(library libvdllabelapi${PROJECT_VERSION_MAJOR} libs
  "drive VELDRIN thermal label printers (shared library)
libVdlLabelAPI turns label content (text, barcodes, boxes, pictures),
settings and status queries into the command language of VELDRIN thermal
label printers, over USB, serial, parallel, TCP or Bluetooth. It comes with
a udev rule that opens the maker's USB printers to the user at the seat, and
with libVdlZpl, which prints ZPL II labels through it.")
# The dynamic linker's cache is renewed once per dpkg run, by the trigger.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
vdl_debian_package(development libvdllabelapi-dev libdevel
  "drive VELDRIN thermal label printers (development files)
The C headers, the header-only C++ interfaces, the pkg-config files and the
CMake package of libVdlLabelAPI and libVdlZpl." library)
vdl_debian_package(tools vdl-label utils
  "drive VELDRIN thermal label printers from the shell
vdl-label lists USB label printers, reads a printer's status, sends settings,
files and pictures (BMP, JPEG, GIF, PNG) and prints test labels." library)
set(vdl_debian_components library development tools)
if(VDL_INSTALL_PYTHON)
  vdl_debian_package(python_debian python3-vdllabel python
    "drive VELDRIN thermal label printers from Python 3
The vdllabel package calls libVdlLabelAPI through ctypes: a Printer with a
method for every call of the library, typed enums and exceptions." library)
  set(CPACK_DEBIAN_PYTHON_DEBIAN_PACKAGE_ARCHITECTURE all)
  # What it loads: the library comes from the component dependency, at the
  # same version; libbluetooth, which a Bluetooth connection needs, is loaded
  # by name, so dpkg-shlibdeps cannot see it.
  set(CPACK_DEBIAN_PYTHON_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.8), libbluetooth3")
  # python3 writes byte code beside the modules, files dpkg does not know of:
  # prerm and postrm remove them, so that nothing is left behind.
  foreach(script prerm postrm)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/python-maintscript.in ${PROJECT_BINARY_DIR}/debian/python/${script}
                   @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
  endforeach()
  set(CPACK_DEBIAN_PYTHON_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_BINARY_DIR}/debian/python/prerm ${PROJECT_BINARY_DIR}/debian/python/postrm)
  list(APPEND vdl_debian_components python_debian)
endif()
if(VDL_PRINTER_APP)
  vdl_debian_package(printer_app vdl-printer-app utils
    "print on VELDRIN thermal label printers from any program
vdl-printer-app serves each VELDRIN label printer as an IPP Everywhere
printer, so that CUPS, browsers and phones print labels through
libVdlLabelAPI." library)
  list(APPEND vdl_debian_components printer_app)
endif()
set(CPACK_COMPONENTS_ALL ${vdl_debian_components})
include(CPack)
