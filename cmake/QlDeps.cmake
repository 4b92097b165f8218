# Third-party libraries, under the same target names on both builds so code
# just links them:
#   ql::ffmpeg    libavformat, libavcodec, libswscale, libswresample, libavutil
#   ql::speexdsp  the Speex resampler
#   ql::zlib
#   ql_gtest_main GoogleTest + GoogleMock with gtest's main()
# Linux: Debian packages (scripts/setup-linux.sh), found through pkg-config.
# Windows: GoogleTest from /usr/src/googletest, zlib from libz-mingw-w64-dev,
# FFmpeg and speexdsp cross-built by scripts/setup-windows-cross.sh into
# QL_DEPS_PREFIX and linked statically.
include_guard(GLOBAL)

find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)

if(WIN32)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
  add_library(ql_gtest_main INTERFACE)
  target_link_libraries(ql_gtest_main INTERFACE gtest_main gmock)
else()
  find_package(GTest REQUIRED)
  add_library(ql_gtest_main INTERFACE)
  target_link_libraries(ql_gtest_main INTERFACE GTest::gtest_main GTest::gmock)
endif()

if(WIN32)
  # Same cache folder as ./dev and the setup script; win-deps links to the
  # build of the current setup script.
  if(NOT "$ENV{LUMORA_CACHE}" STREQUAL "")
    set(_ql_cache "$ENV{LUMORA_CACHE}")
  elseif(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(_ql_cache "$ENV{XDG_CACHE_HOME}/lumora-pc")
  else()
    set(_ql_cache "$ENV{HOME}/.cache/lumora-pc")
  endif()
  set(QL_DEPS_PREFIX "${_ql_cache}/win-deps" CACHE PATH
      "FFmpeg and speexdsp cross-built by scripts/setup-windows-cross.sh")
  if(NOT EXISTS "${QL_DEPS_PREFIX}/lib/pkgconfig/libavformat.pc")
    message(FATAL_ERROR "No cross-built FFmpeg in ${QL_DEPS_PREFIX}: run ./dev setup")
  endif()
  # Only the cross-built .pc files; never the build machine's.
  set(ENV{PKG_CONFIG_LIBDIR} "${QL_DEPS_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH OFF)
endif()

# ql_pkg_target(<target> <pkg-config module>...): an imported target for the
# modules. On Windows everything is static: the modules' own archives are
# named by full path (so a rebuilt library relinks the programs) and the
# Windows libraries they need (bcrypt, ole32, ...) follow them in order.
function(ql_pkg_target target)
  string(MAKE_C_IDENTIFIER "QL_PKG_${target}" var)
  # Ask pkg-config again at every configure: a new setup may have rebuilt
  # the Windows libraries with other flags.
  unset(__pkg_config_checked_${var} CACHE)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  if(NOT WIN32)
    pkg_check_modules(${var} REQUIRED QUIET IMPORTED_TARGET GLOBAL ${ARGN})
    set_target_properties(${target} PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::${var})
    return()
  endif()
  pkg_check_modules(${var} REQUIRED QUIET ${ARGN})
  set(libs)
  foreach(flag IN LISTS ${var}_STATIC_LDFLAGS)
    if(flag MATCHES "^-l(.+)$")
      if(EXISTS "${QL_DEPS_PREFIX}/lib/lib${CMAKE_MATCH_1}.a")
        list(APPEND libs "${QL_DEPS_PREFIX}/lib/lib${CMAKE_MATCH_1}.a")
      else()
        list(APPEND libs "${CMAKE_MATCH_1}")
      endif()
    elseif(NOT flag MATCHES "^-L")
      list(APPEND libs "${flag}")
    endif()
  endforeach()
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${${var}_STATIC_INCLUDE_DIRS}"
    INTERFACE_LINK_LIBRARIES "${libs}")
endfunction()

ql_pkg_target(ql::ffmpeg libavformat libavcodec libswscale libswresample libavutil)
ql_pkg_target(ql::speexdsp speexdsp)

# Windows: only the static archive, never libz.dll.a.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
add_library(ql::zlib INTERFACE IMPORTED GLOBAL)
set_target_properties(ql::zlib PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${ZLIB_INCLUDE_DIRS}"
  INTERFACE_LINK_LIBRARIES "${ZLIB_LIBRARIES}")
