# The public surface has one source: the functions the public header declares
# with QUENMAR_GREP_API. The linker's export list is written from it here, the
# exported-symbols check (tests/grep_api/check_exports.cmake) reads it the
# same way, and the bindings' declarations are checked against it by tests.

# Sets OUT to the names HEADER declares with QUENMAR_GREP_API, in header order.
function(qg_public_functions HEADER OUT)
  file(READ ${HEADER} header)
  string(REGEX MATCHALL "\nQUENMAR_GREP_API [^(;#]*[ *]([A-Za-z_0-9]+)\\(" declarations "${header}")
  set(names)
  foreach(declaration IN LISTS declarations)
    string(REGEX REPLACE ".*[ *]([A-Za-z_0-9]+)\\($" "\\1" name "${declaration}")
    list(APPEND names ${name})
  endforeach()
  set(${OUT} ${names} PARENT_SCOPE)
endfunction()

# Writes the GNU linker version script that exports exactly HEADER's
# functions to FILE (rewritten only when its text changes).
function(qg_write_version_script HEADER FILE)
  qg_public_functions(${HEADER} names)
  set(text "{\n  global:\n")
  foreach(name IN LISTS names)
    string(APPEND text "    ${name};\n")
  endforeach()
  string(APPEND text "  local:\n    *;\n};\n")
  file(CONFIGURE OUTPUT ${FILE} CONTENT "${text}" @ONLY)
endfunction()
