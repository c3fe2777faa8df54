# Shared body of the mingw-w64 cross toolchain files; the per-arch file sets
# KESTRUNE_MINGW_TRIPLE, KESTRUNE_MINGW_ARCH, CMAKE_SYSTEM_PROCESSOR and, where the compiler's
# run-time libraries are to be shipped as DLLs, KESTRUNE_MINGW_SHARED_RUNTIME, then includes this.
set(CMAKE_SYSTEM_NAME Windows)

# The posix-threads flavour: its libstdc++ has std::thread and std::mutex.
set(CMAKE_C_COMPILER ${KESTRUNE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUNE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUNE_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KESTRUNE_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KESTRUNE_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${KESTRUNE_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

# Libraries are found in the compiler's own prefix and in the prefixes of CMAKE_PREFIX_PATH:
# those of the cross-built libraries, which scripts/windows-deps prints.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUNE_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(KESTRUNE_MINGW_SHARED_RUNTIME)
  # One unwinder and one C++ run time for the program and Lua51.dll: a Lua error thrown in the
  # DLL unwinds the program's frames with the unwinder that registered them, and both modules
  # share one set of exception globals. Their DLLs are shipped beside the program.
  set(_kestrune_runtime "-shared-libgcc")
else()
  # A user gets the program and Lua51.dll and nothing else: libgcc, libstdc++ and winpthread
  # are linked in, so the import tables name only system DLLs. (Unwinding here is the system's
  # own, which knows every module's frames.)
  set(_kestrune_runtime "-static -static-libgcc -static-libstdc++")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_kestrune_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_kestrune_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_kestrune_runtime}")
