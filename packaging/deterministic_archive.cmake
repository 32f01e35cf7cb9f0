# CPack post-build step: rewrites the archive CPack just made so that the
# same files always give the same bytes. CPack's own ZIP and TGZ writers
# take the entries in directory order and stamp them (and the gzip header)
# with the time of packaging, the zip entries also with access times and
# the owner's ids. Here the entries are sorted by name, every time is
# SOURCE_DATE_EPOCH, owners are 0 and modes are 0644 or 0755.
#
# SOURCE_DATE_EPOCH, when unset, is the time of the last commit of the
# sources; outside a git checkout 1980-01-01, the earliest time a zip holds.

set(_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(_epoch STREQUAL "")
    find_program(_git git)
    if(_git)
        execute_process(COMMAND ${_git} -C "${CPACK_KELVORN_SOURCE_DIR}" log -1 --format=%ct
                        OUTPUT_VARIABLE _epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE _git_status ERROR_QUIET)
        if(NOT _git_status EQUAL 0)
            set(_epoch "")
        endif()
    endif()
endif()
if(_epoch STREQUAL "")
    set(_epoch 315532800)
endif()
if(NOT _epoch MATCHES "^[0-9]+$" OR _epoch LESS 315532800)
    message(FATAL_ERROR "SOURCE_DATE_EPOCH=${_epoch}: expected seconds since 1970, from 1980 on (zip times start there)")
endif()

set(_top "${CPACK_PACKAGE_FILE_NAME}")
set(_parent "${CPACK_TOPLEVEL_DIRECTORY}")
list(LENGTH CPACK_PACKAGE_FILES _count)
if(NOT _count EQUAL 1 OR NOT IS_DIRECTORY "${_parent}/${_top}")
    message(FATAL_ERROR "expected one package made from ${_parent}/${_top}, got: ${CPACK_PACKAGE_FILES}")
endif()
set(_archive "${CPACK_PACKAGE_FILES}")

file(GLOB_RECURSE _files RELATIVE "${_parent}" LIST_DIRECTORIES false "${_parent}/${_top}/*")
list(SORT _files)

find_program(_touch touch REQUIRED)
foreach(name IN LISTS _files)
    # Programs keep their execute bits, everything else is plain data.
    if(IS_SYMLINK "${_parent}/${name}")
        message(FATAL_ERROR "${name}: a package holds no links")
    endif()
    execute_process(COMMAND test -x "${_parent}/${name}" RESULT_VARIABLE _not_executable)
    if(_not_executable EQUAL 0)
        file(CHMOD "${_parent}/${name}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
             GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    else()
        file(CHMOD "${_parent}/${name}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
endforeach()
file(CHMOD "${_parent}/${_top}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
execute_process(COMMAND ${_touch} -h -d @${_epoch} "${_top}" ${_files}
                WORKING_DIRECTORY "${_parent}" RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "touch failed on ${_parent}/${_top}")
endif()

file(REMOVE "${_archive}")
if(_archive MATCHES "\\.zip$")
    # -X: no owner ids or extra times; -D: no folder entries. Zip keeps
    # local time, so the time zone is fixed to UTC.
    find_program(_zip zip REQUIRED)
    set(ENV{TZ} UTC0)
    execute_process(COMMAND ${_zip} -q -X -D -9 "${_archive}" ${_files}
                    WORKING_DIRECTORY "${_parent}" RESULT_VARIABLE _status)
elseif(_archive MATCHES "\\.tar\\.gz$")
    # GNU tar for the sorted, ownerless entries; gzip -n leaves its own
    # name and time field empty.
    find_program(_tar tar REQUIRED)
    find_program(_gzip gzip REQUIRED)
    execute_process(COMMAND ${_tar} --format=gnu --sort=name --mtime=@${_epoch} --owner=0 --group=0
                            --numeric-owner -cf - "${_top}"
                    COMMAND ${_gzip} -9 -n
                    WORKING_DIRECTORY "${_parent}" OUTPUT_FILE "${_archive}"
                    RESULTS_VARIABLE _statuses)
    set(_status 0)
    if(NOT _statuses STREQUAL "0;0")
        set(_status "${_statuses}")
    endif()
else()
    message(FATAL_ERROR "${_archive}: neither a zip nor a tar.gz")
endif()
if(NOT _status EQUAL 0 OR NOT EXISTS "${_archive}")
    message(FATAL_ERROR "rewriting ${_archive} failed (${_status})")
endif()
message(STATUS "${_archive}: entries sorted, times at SOURCE_DATE_EPOCH=${_epoch}")
