# yyjson: Debian's package ships a CMake config without a version file, so the
# version is checked against the header's own macros instead.
find_package(yyjson CONFIG REQUIRED)
get_target_property(_qg_yyjson_inc yyjson::yyjson INTERFACE_INCLUDE_DIRECTORIES)
find_file(QG_YYJSON_HEADER yyjson.h HINTS ${_qg_yyjson_inc} NO_CACHE REQUIRED)
file(STRINGS "${QG_YYJSON_HEADER}" _qg_yyjson_hex REGEX "^#define YYJSON_VERSION_HEX")
string(REGEX MATCH "0x[0-9A-Fa-f]+" _qg_yyjson_hex "${_qg_yyjson_hex}")
math(EXPR _qg_yyjson_num "${_qg_yyjson_hex}")
if(_qg_yyjson_num LESS 3072) # 0x000C00 is 0.12.0
  message(FATAL_ERROR "quenmar-grep needs yyjson >= 0.12; ${QG_YYJSON_HEADER} is older")
endif()
