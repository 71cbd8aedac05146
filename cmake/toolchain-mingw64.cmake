# Cross-build for 64-bit Windows with MinGW-w64. The -posix compilers provide
# std::thread, which GoogleTest needs; everything links statically so that the
# executables need only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WENDREL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${WENDREL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WENDREL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${WENDREL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WENDREL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Sources are UTF-8; every narrow literal becomes Shift-JIS, the ANSI code page
# the program speaks. Resources are read as UTF-8 too: without -c 65001 windres
# silently mangles the Japanese texts.
set(CMAKE_CXX_FLAGS_INIT "-finput-charset=UTF-8 -fexec-charset=CP932")
set(CMAKE_RC_FLAGS_INIT "-c 65001")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test executables under Wine, in a prepared prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)

# Header-only libraries come from the build machine's /usr/include, which a
# MinGW compile must not search as a whole: expose just their folders.
set(WENDREL_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
# package: the config name find_package asks for; target: the imported target;
# folder: the folder under /usr/include; version: what the config claims.
function(wendrel_host_header_package package target folder version)
    if(NOT EXISTS /usr/include/${folder})
        return()
    endif()
    file(MAKE_DIRECTORY ${WENDREL_HOST_HEADERS}/include)
    file(CREATE_LINK /usr/include/${folder} ${WENDREL_HOST_HEADERS}/include/${folder} SYMBOLIC)
    file(WRITE ${WENDREL_HOST_HEADERS}/${package}/${package}Config.cmake
"if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${WENDREL_HOST_HEADERS}/include)
endif()
")
    file(WRITE ${WENDREL_HOST_HEADERS}/${package}/${package}ConfigVersion.cmake
"set(PACKAGE_VERSION ${version})
set(PACKAGE_VERSION_COMPATIBLE TRUE)
")
    set(${package}_DIR ${WENDREL_HOST_HEADERS}/${package} CACHE PATH "" FORCE)
endfunction()
wendrel_host_header_package(nlohmann_json nlohmann_json::nlohmann_json nlohmann 3)
wendrel_host_header_package(CLI11 CLI11::CLI11 CLI 2)
