# Runs at install time, once the install prefix is final (`cmake --install
# --prefix`, CPack's staging), so that the launcher and the desktop entry name
# the paths the program really lands at.
#
# Set by the install rule that includes this file: TARVIK_PACKAGING_SOURCE_DIR,
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
configure_file("${TARVIK_PACKAGING_SOURCE_DIR}/tarvik.in" "${staged}/tarvik" @ONLY)
configure_file("${TARVIK_PACKAGING_SOURCE_DIR}/tarvik.desktop.in" "${staged}/tarvik.desktop" @ONLY)

file(INSTALL DESTINATION "${launcher_dir}" TYPE PROGRAM FILES "${staged}/tarvik")
file(INSTALL DESTINATION "${share_dir}/applications" TYPE FILE FILES "${staged}/tarvik.desktop")

# Installed straight onto this machine by root, where the package would put
# it: share the program folder with the dialout group as the package does.
# Never for another prefix, which may well be a folder other programs share.
if("$ENV{DESTDIR}" STREQUAL "" AND CMAKE_INSTALL_PREFIX STREQUAL TARVIK_PACKAGE_FOLDER)
    execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(uid STREQUAL "0")
        execute_process(COMMAND chown root:dialout "${CMAKE_INSTALL_PREFIX}" RESULT_VARIABLE failed)
        if(NOT failed)
            execute_process(COMMAND chmod 2775 "${CMAKE_INSTALL_PREFIX}")
            message(STATUS "Shared with the dialout group: ${CMAKE_INSTALL_PREFIX}")
        endif()
    endif()
endif()
