# The Debian package (scripts/package.sh runs `cpack -G DEB` on a release build): whatever
# `cmake --install` installs, under /usr. dpkg-shlibdeps computes the dependencies on libraries
# from the binaries. The Qt Quick modules the window imports are loaded at run time and appear in
# no binary's library list, so OlvexPackageQml.cmake, which cpack reads when it packs, finds them
# with Qt's qmlimportscanner in the QML sources and adds the packages that ship them.
set(CPACK_PACKAGE_NAME olvex-manager)
set(CPACK_PACKAGE_VENDOR Olvex)
set(OLVEX_PACKAGE_MAINTAINER "Olvex Manager <packaging@olvex.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${OLVEX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "魔兽世界本地插件、整合包和 WTF 配置管理器")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "为国服魔兽世界玩家管理本机的插件、整合包和 WTF 配置，只读写本地磁盘，从不联网。\n"
    "从本地 ZIP 文件安装整合包（安全解压、安装前预览），每次改动前自动备份，失败时自动恢复；\n"
    "备份、恢复、导出和导入 WTF 配置。包含图形界面 olvex-manager 和命令行工具 olvex。")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# What the window loads at run time that no binary names and no QML import shows: Qt's SVG
# plugins (the theme icons are SVG), and, recommended because something else stands in without
# them, the interface font, the fallback icon theme and Qt's Chinese translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, breeze-icon-theme, qt6-translations-l10n")

if(OLVEX_BUILD_APP)
    find_package(Qt6 6.4 REQUIRED COMPONENTS Qml)
    set(OLVEX_QML_SOURCES ${PROJECT_SOURCE_DIR}/app/qml)
    set(OLVEX_QMLIMPORTSCANNER ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_LIBEXECS}/qmlimportscanner)
    set(OLVEX_QT_QML_DIR ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_QML})
    configure_file(${CMAKE_CURRENT_LIST_DIR}/OlvexPackageQml.cmake.in ${PROJECT_BINARY_DIR}/OlvexPackageQml.cmake @ONLY)
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/OlvexPackageQml.cmake)
endif()

include(CPack)
