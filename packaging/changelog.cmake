# SPDX-License-Identifier: MIT
# Turns CHANGELOG.md into the Debian changelog of the package.
#
#   cmake -DIN=CHANGELOG.md -DOUT=changelog -DVERSION=1.1.0
#         -DMAINTAINER="Name <mail>" -P changelog.cmake
#
# Each "## <version> - <yyyy-mm-dd> <hh:mm> UTC" heading becomes one entry, its "- "
# items the entry's "*" items. The newest entry must be VERSION: a release
# without its changelog entry is a mistake caught here.

file(STRINGS "${IN}" lines)

# "Mon, 07 Dec 2026 16:00:00 +0000" from "2026-12-07" and "16:00".
function(rfc2822 out iso time)
    string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _ "${iso}")
    set(y ${CMAKE_MATCH_1})
    math(EXPR m "${CMAKE_MATCH_2}")
    math(EXPR d "${CMAKE_MATCH_3}")
    # Sakamoto's method: 0 is Sunday.
    set(t 0 3 2 5 0 3 5 1 4 6 2 4)
    if(m LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR i "${m} - 1")
    list(GET t ${i} ti)
    math(EXPR w "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${ti} + ${d}) % 7")
    set(days Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET days ${w} wn)
    list(GET months ${i} mn)
    string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _ "${iso}")
    set(${out} "${wn}, ${CMAKE_MATCH_3} ${mn} ${CMAKE_MATCH_1} ${time}:00 +0000" PARENT_SCOPE)
endfunction()

set(text "")
set(first "")
set(date "")
macro(close_entry)
    if(NOT date STREQUAL "")
        rfc2822(stamp "${date}" "${time}")
        string(APPEND text "\n -- ${MAINTAINER}  ${stamp}\n")
    endif()
endmacro()

foreach(line IN LISTS lines)
    string(REPLACE "`" "" line "${line}")
    if(line MATCHES "^## ([^ ]+) - ([0-9]+-[0-9]+-[0-9]+) ([0-9][0-9]:[0-9][0-9]) UTC$")
        close_entry()
        if(first STREQUAL "")
            set(first "${CMAKE_MATCH_1}")
        else()
            string(APPEND text "\n")
        endif()
        set(date "${CMAKE_MATCH_2}")
        set(time "${CMAKE_MATCH_3}")
        string(APPEND text "tarvik (${CMAKE_MATCH_1}) stable; urgency=medium\n\n")
    elseif(date STREQUAL "")
        # the file's own introduction
    elseif(line MATCHES "^- (.*)$")
        string(APPEND text "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  +(.*)$")
        string(APPEND text "    ${CMAKE_MATCH_1}\n")
    endif()
endforeach()
close_entry()

if(NOT first STREQUAL VERSION)
    message(FATAL_ERROR "${IN}: the newest entry is '${first}', not ${VERSION}: "
                        "add the entry for ${VERSION}")
endif()
file(WRITE "${OUT}" "${text}")
