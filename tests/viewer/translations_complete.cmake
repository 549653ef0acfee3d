# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a text marked for translation has no translation in a catalogue: lupdate, run over
# the sources into a copy of each catalogue, must leave no message unfinished. The catalogues in
# the source tree are never touched.
#   cmake -DLUPDATE=... -DSOURCE_DIR=... -DWORK_DIR=... -P translations_complete.cmake
file(GLOB catalogues ${SOURCE_DIR}/translations/*.ts)
if(NOT catalogues)
    message(FATAL_ERROR "no catalogues in ${SOURCE_DIR}/translations")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(failed "")
foreach(catalogue ${catalogues})
    get_filename_component(name ${catalogue} NAME)
    set(copy ${WORK_DIR}/${name})
    file(COPY_FILE ${catalogue} ${copy})
    execute_process(COMMAND ${LUPDATE} -silent -locations none ${SOURCE_DIR}/src -ts ${copy}
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "lupdate failed on ${name}")
    endif()
    file(READ ${copy} updated)
    # Each message's source and translation, to name the texts that lack one.
    string(REGEX MATCHALL "<source>[^<]*</source>[ \t\r\n]*<translation type=\"unfinished\""
           unfinished "${updated}")
    foreach(entry ${unfinished})
        string(REGEX REPLACE "<source>([^<]*)</source>.*" "\\1" text "${entry}")
        string(APPEND failed "\n  ${name}: ${text}")
    endforeach()
endforeach()
if(failed)
    message(FATAL_ERROR "texts without a translation:${failed}")
endif()
