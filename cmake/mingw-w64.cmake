# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler, POSIX
# thread model (package g++-mingw-w64-x86-64-posix), which OpenMP needs:
#   cmake --preset windows && cmake --build --preset windows
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PLUME_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PLUME_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PLUME_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PLUME_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PLUME_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Windows x64 stack is only 16-byte aligned, but GCC assumes 32/64-byte
# alignment for spilled AVX registers; have the assembler emit unaligned
# moves so the AVX2/AVX-512 kernels cannot fault on a misaligned spill.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
# Link the C++ runtime, libgomp and winpthreads into the .exe files, so they
# run without MinGW DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# FindOpenMP would pick the import library of libgomp-1.dll; take the static
# archive instead.
if(NOT OpenMP_gomp_LIBRARY)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgomp.a
                  OUTPUT_VARIABLE _plume_gomp OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${_plume_gomp}" AND EXISTS "${_plume_gomp}")
    set(OpenMP_gomp_LIBRARY "${_plume_gomp}" CACHE FILEPATH "libgomp, linked statically")
  endif()
endif()
