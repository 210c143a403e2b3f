# Native build of the portable modules.
add_library(tv_platform_flags INTERFACE)
if(TALVOREEN_SANITIZE)
  target_compile_options(tv_platform_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(tv_platform_flags INTERFACE -fsanitize=address,undefined)
endif()

# Third-party libraries from Debian's -dev packages, one INTERFACE target each.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TALVOREEN_JSONC REQUIRED IMPORTED_TARGET json-c)
pkg_check_modules(TALVOREEN_CRYPTOPP REQUIRED IMPORTED_TARGET libcrypto++)
find_package(ZLIB REQUIRED)
add_library(tv_jsonc INTERFACE)
target_link_libraries(tv_jsonc INTERFACE PkgConfig::TALVOREEN_JSONC)
add_library(tv_cryptopp INTERFACE)
target_link_libraries(tv_cryptopp INTERFACE PkgConfig::TALVOREEN_CRYPTOPP)
add_library(tv_zlib INTERFACE)
target_link_libraries(tv_zlib INTERFACE ZLIB::ZLIB)
# RapidJSON (header-only, rapidjson-dev) reads the large untrusted documents as a stream.
find_path(TALVOREEN_RAPIDJSON_INCLUDE rapidjson/reader.h REQUIRED)
add_library(tv_rapidjson INTERFACE)
target_include_directories(tv_rapidjson SYSTEM INTERFACE "${TALVOREEN_RAPIDJSON_INCLUDE}")

# Fuzz targets (clang, the "fuzz" preset) instrument every portable module for libFuzzer.
option(TALVOREEN_FUZZ "Build the libFuzzer targets of tests/fuzz (needs clang)" OFF)
if(TALVOREEN_FUZZ)
  # pointer-overflow is left out: RapidJSON 1.1.0 (Debian 12) adds to its stack pointer while
  # it is still null, before the first growth; harmless, fixed upstream, and fatal here.
  target_compile_options(tv_platform_flags INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize=pointer-overflow -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)
  target_link_options(tv_platform_flags INTERFACE -fsanitize=address,undefined)
endif()

find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
