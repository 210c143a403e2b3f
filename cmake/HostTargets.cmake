# Native build of the portable modules.
add_library(tv_platform_flags INTERFACE)
if(TALVOREEN_SANITIZE)
  target_compile_options(tv_platform_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(tv_platform_flags INTERFACE -fsanitize=address,undefined)
endif()

find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
