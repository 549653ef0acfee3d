# SPDX-License-Identifier: GPL-3.0-or-later
# Fills the desktop entry and the AppStream metainfo with the MIME types the viewer opens, as
# listed by `kivo-tool mime-types` from the format table, so the two never drift from the code.
# Run at build time: cmake -DKIVO_TOOL=... -DTEMPLATE_DIR=... -DOUTPUT_DIR=... -D<substitutions>
# -P generate.cmake
execute_process(COMMAND ${KIVO_TOOL} mime-types
    OUTPUT_VARIABLE types RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0 OR types STREQUAL "")
    message(FATAL_ERROR "kivo-tool mime-types failed (${status}): ${error}")
endif()
string(STRIP "${types}" types)
string(REPLACE "\n" ";" types "${types}")

set(KIVO_DESKTOP_MIME_TYPES "")
set(KIVO_PROVIDES_MIME_TYPES "")
foreach(type IN LISTS types)
    string(APPEND KIVO_DESKTOP_MIME_TYPES "${type};")
    string(APPEND KIVO_PROVIDES_MIME_TYPES "    <mediatype>${type}</mediatype>\n")
endforeach()
string(STRIP "${KIVO_PROVIDES_MIME_TYPES}" KIVO_PROVIDES_MIME_TYPES)
set(KIVO_PROVIDES_MIME_TYPES "    ${KIVO_PROVIDES_MIME_TYPES}")

configure_file(${TEMPLATE_DIR}/${KIVO_APPLICATION_ID}.desktop.in
    ${OUTPUT_DIR}/${KIVO_APPLICATION_ID}.desktop @ONLY)
configure_file(${TEMPLATE_DIR}/${KIVO_APPLICATION_ID}.metainfo.xml.in
    ${OUTPUT_DIR}/${KIVO_APPLICATION_ID}.metainfo.xml @ONLY)
