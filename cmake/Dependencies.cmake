# yyjson >= 0.12: the installed package when there is one, otherwise its
# 0.12.0 release, fetched and built into the library (static, no install
# rules of its own). FETCHCONTENT_SOURCE_DIR_YYJSON names a folder holding
# that release's source to build instead of fetching it.
include(FetchContent)

# True in `out` when the yyjson.h of `target` is 0.12.0 or later. Debian's
# package ships a CMake config without a version file, so the version is read
# from the header's own macros.
function(qg_yyjson_is_recent target out)
  get_target_property(include_dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  find_file(header yyjson.h HINTS ${include_dirs} NO_CACHE NO_DEFAULT_PATH)
  set(${out} FALSE PARENT_SCOPE)
  if(header)
    file(STRINGS "${header}" hex REGEX "^#define YYJSON_VERSION_HEX")
    string(REGEX MATCH "0x[0-9A-Fa-f]+" hex "${hex}")
    if(hex)
      math(EXPR number "${hex}")
      if(NOT number LESS 3072) # 0x000C00 is 0.12.0
        set(${out} TRUE PARENT_SCOPE)
      endif()
    endif()
  endif()
endfunction()

if(NOT FETCHCONTENT_SOURCE_DIR_YYJSON AND NOT TARGET yyjson::yyjson)
  find_package(yyjson CONFIG QUIET)
endif()
set(QG_YYJSON_RECENT FALSE)
if(TARGET yyjson::yyjson)
  qg_yyjson_is_recent(yyjson::yyjson QG_YYJSON_RECENT)
  if(NOT QG_YYJSON_RECENT)
    message(FATAL_ERROR "quenmar-grep needs yyjson >= 0.12; the one found is older "
      "(remove it, or point CMAKE_PREFIX_PATH at a newer one)")
  endif()
else()
  message(STATUS "quenmar-grep: building yyjson 0.12.0 from its release source")
  FetchContent_Declare(yyjson
    URL https://github.com/ibireme/yyjson/archive/refs/tags/0.12.0.tar.gz
    URL_HASH SHA256=b16246f617b2a136c78d73e5e2647c6f1de1313e46678062985bdcf1f40bb75d
    DOWNLOAD_EXTRACT_TIMESTAMP TRUE)
  block()
    set(BUILD_SHARED_LIBS OFF)
    set(YYJSON_INSTALL OFF)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)  # its options take the values set here
    FetchContent_MakeAvailable(yyjson)
  endblock()
  add_library(yyjson::yyjson ALIAS yyjson)
endif()
