# The layer libraries and what each may link: configuring fails when a
# library links one of its own layer or above (the formats are one layer
# of libraries that never link each other), so the graph stays acyclic.
set(_kelvorn_layer_kelvorn_base 0)
foreach(format kelvorn_cue kelvorn_iso kelvorn_flac kelvorn_icon kelvorn_rom)
    set(_kelvorn_layer_${format} 1)
endforeach()
set(_kelvorn_layer_kelvorn_formats 1.5)  # the formats, all of them, for the layer above
set(_kelvorn_layer_kelvorn_builder 2)
set(_kelvorn_layer_kelvorn_refs_retail 2)
set(_kelvorn_layer_kelvorn_refs_testing 2)
set(_kelvorn_layer_kelvorn_session 3)

function(kelvorn_check_layers)
    foreach(target kelvorn_base kelvorn_cue kelvorn_iso kelvorn_flac kelvorn_icon kelvorn_rom kelvorn_formats
                   kelvorn_builder kelvorn_refs_retail kelvorn_refs_testing kelvorn_session)
        if(NOT TARGET ${target})
            continue()
        endif()
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
        else()
            get_target_property(links ${target} LINK_LIBRARIES)
        endif()
        foreach(link ${links})
            if(NOT DEFINED _kelvorn_layer_${link})
                continue()  # the system's and the toolchain's libraries
            endif()
            set(own ${_kelvorn_layer_${target}})
            set(theirs ${_kelvorn_layer_${link}})
            # kelvorn_formats gathers the formats: it alone links its own layer.
            if(target STREQUAL "kelvorn_formats" AND theirs EQUAL 1)
                continue()
            endif()
            if(NOT theirs LESS own)
                message(FATAL_ERROR "${target} links ${link}: a library may link only the layers below its own")
            endif()
        endforeach()
    endforeach()
endfunction()
