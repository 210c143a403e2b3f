# Native build of the portable modules.
add_library(tv_platform_flags INTERFACE)
if(TALVOREEN_SANITIZE)
  target_compile_options(tv_platform_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(tv_platform_flags INTERFACE -fsanitize=address,undefined)
endif()

find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

find_package(PkgConfig REQUIRED)
pkg_check_modules(JSONC REQUIRED IMPORTED_TARGET json-c)
add_library(tv_jsonc INTERFACE)
target_link_libraries(tv_jsonc INTERFACE PkgConfig::JSONC)
