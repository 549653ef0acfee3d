# SPDX-License-Identifier: GPL-3.0-or-later
# kivo_subsystem(<name> PUBLIC <libs...> PRIVATE <libs...>)
# One static library per subsystem folder, made of every source file in that folder and the
# folders beneath it, so adding a file needs no build edit. Includes are written from src/
# ("imaging/image.h", "imaging/codecs/codecs.h").
function(kivo_subsystem name)
    cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    list(FILTER sources EXCLUDE REGEX ".*/(fuzz_[^/]*|main)\\.cpp$")
    list(FILTER sources INCLUDE REGEX ".*\\.cpp$")
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE kivo_warnings ${ARG_PRIVATE})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${name} INTERFACE ${ARG_PUBLIC})
    endif()
endfunction()
