# SPDX-License-Identifier: MIT
# Runs at install time, once the install prefix is final (`cmake --install
# --prefix`, CPack's staging), so that the launcher and the desktop entry name
# the paths the program really lands at.
#
# Set by the install rule that includes this file: TARVIK_DATA_DIR,
# TARVIK_PACKAGING_SOURCE_DIR,
# TARVIK_PACKAGING_BINARY_DIR, TARVIK_LAUNCHER_DIR, TARVIK_SHARE_DIR,
# TARVIK_PACKAGE_FOLDER (where the package puts the program folder).

function(tarvik_under_prefix out dir)
    if(IS_ABSOLUTE "${dir}")
        set(${out} "${dir}" PARENT_SCOPE)
    else()
        set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
    endif()
endfunction()

tarvik_under_prefix(launcher_dir "${TARVIK_LAUNCHER_DIR}")
tarvik_under_prefix(share_dir "${TARVIK_SHARE_DIR}")
set(TARVIK_PROGRAM "${CMAKE_INSTALL_PREFIX}/tarvik")
set(TARVIK_LAUNCHER "${launcher_dir}/tarvik")

set(staged "${TARVIK_PACKAGING_BINARY_DIR}/staged")
configure_file("${TARVIK_PACKAGING_SOURCE_DIR}/tarvik.desktop.in" "${staged}/tarvik.desktop" @ONLY)
file(INSTALL DESTINATION "${share_dir}/applications" TYPE FILE FILES "${staged}/tarvik.desktop")

# The commands on the PATH are links to the programs: nothing needs setting
# up before the program starts (files it makes are shared by the program
# itself, whatever the umask).
file(MAKE_DIRECTORY "$ENV{DESTDIR}${launcher_dir}")
foreach(program tarvik kestrin-board-sim tarvik-port)
    message(STATUS "Installing: $ENV{DESTDIR}${launcher_dir}/${program} -> ${CMAKE_INSTALL_PREFIX}/${program}")
    file(REMOVE "$ENV{DESTDIR}${launcher_dir}/${program}")
    file(CREATE_LINK "${CMAKE_INSTALL_PREFIX}/${program}" "$ENV{DESTDIR}${launcher_dir}/${program}"
         SYMBOLIC)
endforeach()

# Installed straight onto this machine by root: make the data folder as the
# package does, shared with the dialout group. The program folder stays
# root's alone.
if("$ENV{DESTDIR}" STREQUAL "" AND NOT TARVIK_DATA_DIR STREQUAL "")
    execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(uid STREQUAL "0" AND NOT EXISTS "${TARVIK_DATA_DIR}")
        file(MAKE_DIRECTORY "${TARVIK_DATA_DIR}")
        execute_process(COMMAND chown root:dialout "${TARVIK_DATA_DIR}" RESULT_VARIABLE failed)
        if(NOT failed)
            execute_process(COMMAND chmod 2775 "${TARVIK_DATA_DIR}")
            message(STATUS "Shared with the dialout group: ${TARVIK_DATA_DIR}")
        endif()
    endif()
endif()
