# Release builds give the same bytes wherever and whenever they are built:
# no folder names reach the objects (__FILE__, debug info, the .file names in
# the symbol table) and no link time reaches a Windows executable. Debug
# builds keep their absolute paths for the debugger.
set(_kv_prefix_maps -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
add_compile_options("$<$<AND:$<NOT:$<CONFIG:Debug>>,$<COMPILE_LANGUAGE:C,CXX,ASM>>:${_kv_prefix_maps}>")
if(WIN32)
    # The PE header's TimeDateStamp stays 0; the checksum field depends on
    # the bytes alone. The MinGW runtime's objects bring debug information
    # naming the folders they were built in; release programs leave it out
    # and keep their symbol table.
    add_link_options(-Wl,--no-insert-timestamp "$<$<NOT:$<CONFIG:Debug>>:-Wl,--strip-debug>")
endif()
