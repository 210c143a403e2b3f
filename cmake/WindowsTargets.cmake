# Cross build for 32-bit Windows: static runtime, libraries from the prefix that
# tools/setup.sh builds, tests run under Wine.
set(TALVOREEN_DEPS_PREFIX "/var/cache/talvoreen-deps/current" CACHE PATH "Cross-built dependency prefix")
if(NOT EXISTS "${TALVOREEN_DEPS_PREFIX}/.complete")
  message(FATAL_ERROR "No dependency prefix at ${TALVOREEN_DEPS_PREFIX}; run tools/setup.sh first")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${TALVOREEN_DEPS_PREFIX}")
list(APPEND CMAKE_PREFIX_PATH "${TALVOREEN_DEPS_PREFIX}")

add_library(tv_platform_flags INTERFACE)
# SSE2 arithmetic: x87 extended precision would make results differ from the host build
# (0.42 * 100 truncates to 41 there).
target_compile_options(tv_platform_flags INTERFACE -msse2 -mfpmath=sse)
target_compile_definitions(tv_platform_flags INTERFACE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00 WINVER=0x0A00)
target_link_options(tv_platform_flags INTERFACE -static -static-libgcc -static-libstdc++)

add_library(tv_windows_libs INTERFACE)
target_link_libraries(tv_windows_libs INTERFACE
  winhttp ws2_32 bcrypt crypt32 shlwapi shell32 ole32 oleaut32 uuid advapi32 user32 gdi32 comctl32 version
  d2d1 dwrite windowscodecs dwmapi wtsapi32 dbghelp wintrust)

# Third-party libraries, one INTERFACE target each: json-c and Crypto++ from the prefix,
# zlib from the system mingw (static archive, not the DLL import library).
find_package(json-c CONFIG REQUIRED)
add_library(tv_jsonc INTERFACE)
target_link_libraries(tv_jsonc INTERFACE json-c::json-c)

find_path(TALVOREEN_CRYPTOPP_INCLUDE cryptopp/xed25519.h REQUIRED)
find_library(TALVOREEN_CRYPTOPP_LIBRARY NAMES libcryptopp.a REQUIRED)
add_library(tv_cryptopp INTERFACE)
target_include_directories(tv_cryptopp SYSTEM INTERFACE "${TALVOREEN_CRYPTOPP_INCLUDE}")
target_link_libraries(tv_cryptopp INTERFACE "${TALVOREEN_CRYPTOPP_LIBRARY}" bcrypt advapi32)

find_path(TALVOREEN_ZLIB_INCLUDE zlib.h REQUIRED)
find_library(TALVOREEN_ZLIB_LIBRARY NAMES libz.a REQUIRED)
add_library(tv_zlib INTERFACE)
target_include_directories(tv_zlib SYSTEM INTERFACE "${TALVOREEN_ZLIB_INCLUDE}")
target_link_libraries(tv_zlib INTERFACE "${TALVOREEN_ZLIB_LIBRARY}")

# RapidJSON is header-only; Debian's rapidjson-dev headers are copied into the build folder so
# that the cross compiler sees them without the rest of /usr/include (glibc's headers).
find_file(TALVOREEN_RAPIDJSON_READER rapidjson/reader.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
get_filename_component(_rapidjson_dir "${TALVOREEN_RAPIDJSON_READER}" DIRECTORY)
file(COPY "${_rapidjson_dir}" DESTINATION "${CMAKE_BINARY_DIR}/rapidjson-include")
add_library(tv_rapidjson INTERFACE)
target_include_directories(tv_rapidjson SYSTEM INTERFACE "${CMAKE_BINARY_DIR}/rapidjson-include")

find_package(GTest CONFIG REQUIRED)

# Tests and tools run under Wine with a prefix of their own inside the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/cmake/wine-run.sh;${CMAKE_BINARY_DIR}")

set(TALVOREEN_EXE_DIR "${CMAKE_SOURCE_DIR}/Bin/launcher" CACHE PATH "Where the launcher executable is written")

# UnRAR built as a static library with its Windows-version probe (COM/WMI) and power calls.
add_library(tv_unrar INTERFACE)
target_include_directories(tv_unrar INTERFACE "${TALVOREEN_DEPS_PREFIX}/include")
target_link_libraries(tv_unrar INTERFACE "${TALVOREEN_DEPS_PREFIX}/lib/libunrar.a" powrprof wbemuuid ole32 oleaut32 shlwapi uuid)
