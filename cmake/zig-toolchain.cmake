# The wheel build's toolchain: zig's clang with its own libc++, for old glibc (the target is
# named once, in zig/c++), so the wheels load on old distributions. scripts/wheel-for.sh passes
# it, with PYVORA_ZIG set to the zig executable (the ziglang package's); the test command keeps
# g++. libc++ and libc++abi are linked in statically and, like everything but the module's init
# function, kept out of the module's exported symbols.
if(NOT DEFINED ENV{PYVORA_ZIG})
  message(FATAL_ERROR "zig-toolchain.cmake: set PYVORA_ZIG to the zig executable")
endif()
set(CMAKE_CXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/zig/c++")
set(CMAKE_AR "${CMAKE_CURRENT_LIST_DIR}/zig/ar" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${CMAKE_CURRENT_LIST_DIR}/zig/ranlib" CACHE FILEPATH "" FORCE)
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/module-exports.map -s")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CMAKE_SHARED_LINKER_FLAGS_INIT}")
