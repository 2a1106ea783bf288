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
# clang's default inliner leaves small steps of the calling sequence out of line where g++
# inlines them: a one-argument method call then runs about 30 instructions more (callgrind).
set(CMAKE_CXX_FLAGS_INIT "-mllvm -inline-threshold=1000")
# Debian's Python headers: pyconfig.h includes its architecture's half by a path under
# /usr/include (<x86_64-linux-gnu/python3.X/pyconfig.h>), which zig's compiler does not search,
# as it has its own headers for the old glibc. A folder holding that one name reaches it without
# the host's newer libc headers.
if(IS_DIRECTORY /usr/include/x86_64-linux-gnu)
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/zig-multiarch")
  file(CREATE_LINK /usr/include/x86_64-linux-gnu "${CMAKE_BINARY_DIR}/zig-multiarch/x86_64-linux-gnu"
       SYMBOLIC)
  string(APPEND CMAKE_CXX_FLAGS_INIT " -isystem ${CMAKE_BINARY_DIR}/zig-multiarch")
endif()
