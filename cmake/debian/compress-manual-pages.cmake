# Run by CPack once every package's files are staged: Debian installs manual
# pages compressed with gzip -9n (no name, no time stamp), the packages too.
file(GLOB_RECURSE vdl_staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.[1-9]")
foreach(page IN LISTS vdl_staged)
  if(page MATCHES "/share/man/man[1-9]/[^/]+$")
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
