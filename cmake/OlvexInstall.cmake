# What `cmake --install` puts where (GNUInstallDirs): both programs in bin/, and for the desktop
# the entry and the AppStream metadata named by the application id, the icon as scalable SVG and
# rendered PNG sizes, the manual page of olvex and its bash completion (both written from its declaration of options).
# The application's own QML module is linked into olvex-manager (its files are resources under
# qrc:/Olvex), so no QML file is installed; the Qt Quick modules it imports come from the system.
include(GNUInstallDirs)

set(OLVEX_DATA_DIR ${PROJECT_BINARY_DIR}/data)
set(OLVEX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(OLVEX_BUILD_APP)
    install(TARGETS olvex-manager RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

    configure_file(${OLVEX_PACKAGING_DIR}/app.desktop.in ${OLVEX_DATA_DIR}/${OLVEX_APP_ID}.desktop @ONLY)
    configure_file(${OLVEX_PACKAGING_DIR}/app.metainfo.xml.in ${OLVEX_DATA_DIR}/${OLVEX_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${OLVEX_DATA_DIR}/${OLVEX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${OLVEX_DATA_DIR}/${OLVEX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    set(icon ${OLVEX_PACKAGING_DIR}/app-icon.svg)
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${OLVEX_APP_ID}.svg)
    # Rendered PNGs for the menus and panels that do not draw SVG icons themselves.
    find_program(OLVEX_RSVG_CONVERT rsvg-convert REQUIRED)
    set(pngs "")
    foreach(size 16 24 32 48 64 128 256 512)
        set(folder ${OLVEX_DATA_DIR}/icons/${size}x${size})
        add_custom_command(OUTPUT ${folder}/${OLVEX_APP_ID}.png
            COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
            COMMAND ${OLVEX_RSVG_CONVERT} --width ${size} --height ${size} --output ${folder}/${OLVEX_APP_ID}.png ${icon}
            DEPENDS ${icon}
            VERBATIM)
        list(APPEND pngs ${folder}/${OLVEX_APP_ID}.png)
        install(FILES ${folder}/${OLVEX_APP_ID}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(olvex_icons ALL DEPENDS ${pngs})
endif()

if(OLVEX_BUILD_CLI)
    install(TARGETS olvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

    # The page and the completion are written by olvex-reference from the declaration of commands
    # and options that olvex parses with, so they cannot drift from what it accepts. A sanitizer
    # build's leak check would fail the build for nothing.
    set(man ${OLVEX_DATA_DIR}/olvex.1)
    set(completion ${OLVEX_DATA_DIR}/olvex.bash-completion)
    add_custom_command(OUTPUT ${man} ${man}.gz
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                $<TARGET_FILE:olvex-reference> manual ${PROJECT_VERSION} ${man}
        COMMAND gzip -9nkf ${man}
        DEPENDS olvex-reference
        VERBATIM)
    add_custom_command(OUTPUT ${completion}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                $<TARGET_FILE:olvex-reference> completion ${completion}
        DEPENDS olvex-reference
        VERBATIM)
    add_custom_target(olvex_reference_files ALL DEPENDS ${man}.gz ${completion})
    install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME olvex)
endif()
