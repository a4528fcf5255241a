# Cross build for 32-bit Windows with Debian's mingw-w64 (posix threads).
# Dependencies come from the prefix that scripts/lib/win32-deps.sh fills.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KR_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KR_MINGW_TRIPLE}-windres)

# Same folder as the script: cache variable, else $KR_WIN32_DEPS, else the key derived from the versions file.
if(NOT KR_WIN32_DEPS_PREFIX)
  if(DEFINED ENV{KR_WIN32_DEPS} AND NOT "$ENV{KR_WIN32_DEPS}" STREQUAL "")
    set(_kr_prefix "$ENV{KR_WIN32_DEPS}")
  else()
    file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/win32-deps-version.txt" _kr_versions REGEX "^[a-z]+=")
    set(_kr_key "")
    foreach(_kr_line IN LISTS _kr_versions)
      if(_kr_line MATCHES "^([a-z]+)=([^:]+:)?(.+)$")
        list(APPEND _kr_key "${CMAKE_MATCH_1}-${CMAKE_MATCH_3}")
      endif()
    endforeach()
    list(JOIN _kr_key "_" _kr_key)
    set(_kr_prefix "$ENV{HOME}/.cache/kr-win32-deps/${_kr_key}")
  endif()
  set(KR_WIN32_DEPS_PREFIX "${_kr_prefix}" CACHE PATH "Prefix of the cross-built minizip, libcurl and libsodium")
endif()
# try_compile projects re-read this file without the cache: hand the prefix over.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KR_WIN32_DEPS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${KR_MINGW_TRIPLE} "${KR_WIN32_DEPS_PREFIX}")
# Build tools must still come from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the programs then import only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release programs ship without the debug sections the static libraries bring along.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")

# Debian's mingw zlib ships libz.dll.a too; FindZLIB would pick it and pull in zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# Lets CTest run the Windows test programs.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
