# The program's layers as build targets. Each layer target sees, besides its own headers, only the
# headers of the layers it links: quentaro_layer_headers() gives a target an include folder of its
# own (build/<build>/layers/<target>) holding links to just the headers it exposes, so that an
# #include of a layer above fails to compile. The allowed arrows are the target_link_libraries
# calls in the folders' CMakeLists.txt (docs/ARCHITECTURE.md draws them).
#
# Quoted includes are written from the source root ("engine/install_job.h"): the compiler looks
# for them next to the including file first, so a relative path or a bare name would get past the
# layer folders. quentaro_check_includes() refuses both at build time.

# quentaro_layer_headers(<target> <header>...): <header> relative to the source root, globs allowed.
function(quentaro_layer_headers target)
    set(root "${CMAKE_BINARY_DIR}/layers/${target}")
    file(REMOVE_RECURSE "${root}")
    set(headers)
    foreach(pattern IN LISTS ARGN)
        file(GLOB found CONFIGURE_DEPENDS RELATIVE "${CMAKE_SOURCE_DIR}" "${CMAKE_SOURCE_DIR}/${pattern}")
        list(APPEND headers ${found})
    endforeach()
    foreach(header IN LISTS headers)
        get_filename_component(folder "${root}/${header}" DIRECTORY)
        file(MAKE_DIRECTORY "${folder}")
        file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${header}" "${root}/${header}" SYMBOLIC)
    endforeach()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE "${root}")
    else()
        target_include_directories(${target} PUBLIC "${root}")
    endif()
endfunction()

# quentaro_check_includes(<target>): before <target> compiles, its sources and headers (all files of
# its SOURCES plus the headers given) are checked for quoted includes that are not written from the
# source root.
function(quentaro_check_includes target)
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    set(files)
    foreach(source IN LISTS sources ARGN)
        if(NOT IS_ABSOLUTE "${source}")
            set(source "${dir}/${source}")
        endif()
        if(source MATCHES "\\.(cpp|h)$")
            list(APPEND files "${source}")
        endif()
    endforeach()
    set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.includes-checked")
    add_custom_command(
        OUTPUT "${stamp}"
        COMMAND ${CMAKE_COMMAND} "-DFILES=${files}" "-DROOT=${CMAKE_SOURCE_DIR}" "-DSTAMP=${stamp}"
                -P "${CMAKE_SOURCE_DIR}/cmake/check_includes.cmake"
        DEPENDS ${files} "${CMAKE_SOURCE_DIR}/cmake/check_includes.cmake"
        COMMENT "Checking the includes of ${target}"
        VERBATIM)
    add_custom_target(${target}_includes DEPENDS "${stamp}")
    add_dependencies(${target} ${target}_includes)
endfunction()
