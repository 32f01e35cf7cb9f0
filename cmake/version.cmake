# The version comes from project(); everything else that names it (the
# marker file, the version block, the package names) is made from it here.
string(LENGTH "${PROJECT_VERSION}" _kv_version_length)
if(NOT _kv_version_length EQUAL 4)
    # The marker file is written as exactly 5 bytes (builder/staging.cpp).
    message(FATAL_ERROR "version ${PROJECT_VERSION}: the marker file holds 4 characters and a line feed; "
                        "change its write in builder/staging.cpp before changing the version's length")
endif()
foreach(part MAJOR MINOR PATCH TWEAK)
    set(KELVORN_VERSION_${part} "${PROJECT_VERSION_${part}}")
    if(KELVORN_VERSION_${part} STREQUAL "")
        set(KELVORN_VERSION_${part} 0)
    endif()
endforeach()
# "0,74,0,0" for the version block's fixed fields.
set(KELVORN_VERSION_COMMAS
    "${KELVORN_VERSION_MAJOR},${KELVORN_VERSION_MINOR},${KELVORN_VERSION_PATCH},${KELVORN_VERSION_TWEAK}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kelvorn_version.h.in
               ${CMAKE_BINARY_DIR}/generated/kelvorn_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)
