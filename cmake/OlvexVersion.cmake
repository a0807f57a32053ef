# The identity every program, desktop file and package takes from one place: the project version
# and the application id. The id names the desktop entry, the AppStream metadata and the icon,
# and the window gives it as its desktop file name, so the desktop groups the window under its
# launcher. Code reads both from the generated header OlvexVersion.h (target olvex_version).
set(OLVEX_APP_ID io.olvex.Manager)

configure_file(${CMAKE_CURRENT_LIST_DIR}/OlvexVersion.h.in ${PROJECT_BINARY_DIR}/generated/OlvexVersion.h @ONLY)
add_library(olvex_version INTERFACE)
target_include_directories(olvex_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
