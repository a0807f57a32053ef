# Fails when an include crosses the layers of core/ the wrong way, naming each offending file
# and include. Run as: cmake -DSOURCE_DIR=<checkout> -P tests/core/Layering.cmake
#
#   base  <-  fs  <-  records  <-  archive, discovery, packs, savedvars  <-  service  <-  app, cli
#
# Each folder of core/ may include itself and the folders listed for it below; packs may use
# archive (a pack is unpacked with it) but not discovery, which answers what is installed, not
# what a pack holds. app/ and cli/ may include anything in core/; core/ never includes them.
# Only fs/ calls the operating system: outside it, a call of a global system function
# (`::open(`, `::rename(`, …) is an offence too, so that the fault seam sees every call.
cmake_minimum_required(VERSION 3.20)

set(allowed_base base)
set(allowed_fs base fs)
set(allowed_records base fs records)
set(allowed_archive base fs records archive)
set(allowed_discovery base fs records discovery)
set(allowed_packs base fs records archive packs)
set(allowed_savedvars base fs records savedvars)
set(allowed_service base fs records archive discovery packs savedvars service)
set(system_calls open openat close read write pread pwrite fsync fdatasync sync syncfs statfs fstatfs statvfs
    stat lstat fstat fstatat rename renameat renameat2 unlink unlinkat rmdir mkdir mkdirat flock link linkat
    symlink readlink realpath opendir fdopendir readdir closedir copy_file_range ftruncate setpriority syscall kill
    fchmod)
list(JOIN system_calls "|" system_call_pattern)
# Folders that only app/ and cli/ may name (app/ includes its own as "model/…", "platform/…").
set(front_ends app cli model platform tools qml)

if(NOT IS_DIRECTORY "${SOURCE_DIR}/core")
    message(FATAL_ERROR "SOURCE_DIR must name the checkout (found no core/ in \"${SOURCE_DIR}\")")
endif()

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/core/*.h" "${SOURCE_DIR}/core/*.cpp")
set(offences 0)
foreach(source IN LISTS sources)
    string(REGEX MATCH "^core/([^/]+)/" folder "${source}")
    set(layer "${CMAKE_MATCH_1}")
    if(NOT DEFINED allowed_${layer})
        message(SEND_ERROR "${source}: core/${layer}/ is not a known layer; add it to tests/core/Layering.cmake")
        math(EXPR offences "${offences} + 1")
        continue()
    endif()
    if(NOT layer STREQUAL "fs")
        file(STRINGS "${SOURCE_DIR}/${source}" calls REGEX "(^|[^A-Za-z0-9_:])::(${system_call_pattern})\\(")
        foreach(call IN LISTS calls)
            string(STRIP "${call}" call)
            message(SEND_ERROR "${source}: \"${call}\" calls the operating system outside core/fs/")
            math(EXPR offences "${offences} + 1")
        endforeach()
    endif()
    file(STRINGS "${SOURCE_DIR}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([\"<])([^\">]*)[\">].*$" "\\1;\\2" parsed "${line}")
        list(GET parsed 0 quote)
        list(GET parsed 1 included)
        set(close "\"")
        if(quote STREQUAL "<")
            set(close ">")
        endif()
        set(named "")
        if(included MATCHES "^([^/]+)/")
            set(named "${CMAKE_MATCH_1}")
        elseif(quote STREQUAL "\"" AND NOT EXISTS "${SOURCE_DIR}/core/${layer}/${included}")
            set(named "(no core folder)")
        endif()
        if(named STREQUAL "" OR named IN_LIST allowed_${layer})
            continue()
        endif()
        if(DEFINED allowed_${named} OR named IN_LIST front_ends OR named STREQUAL "(no core folder)")
            string(REPLACE ";" ", " may "${allowed_${layer}}")
            message(SEND_ERROR "${source}: #include ${quote}${included}${close} breaks the layering: core/${layer}/ may include only ${may}")
            math(EXPR offences "${offences} + 1")
        endif()
    endforeach()
endforeach()
if(offences GREATER 0)
    message(FATAL_ERROR "${offences} include(s) break the layering of core/")
endif()
list(LENGTH sources count)
message(STATUS "Layering of core/ holds in ${count} files")
