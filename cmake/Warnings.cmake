# Warning flags per compiler: GCC and Clang (Linux, MinGW-w64) and MSVC (for
# a native Windows build; written down, not tried here). QG_WARNINGS_AS_ERRORS
# makes every warning an error, as scripts/test.sh builds the suite; off by
# default, so that a newer compiler's new warning never stops someone's build.
option(QG_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
if(MSVC)
  set(QG_WARNINGS /W4 /permissive- /utf-8 /D_CRT_SECURE_NO_WARNINGS)
  set(QG_C_HEADER_WARNINGS /W4)
  set(QG_NO_EXCEPTIONS /EHs-c- /GR- /D_HAS_EXCEPTIONS=0)
  if(QG_WARNINGS_AS_ERRORS)
    list(APPEND QG_WARNINGS /WX)
    list(APPEND QG_C_HEADER_WARNINGS /WX)
  endif()
else()
  set(QG_WARNINGS -Wall -Wextra)
  set(QG_C_HEADER_WARNINGS -Wall -Wextra -pedantic)
  set(QG_NO_EXCEPTIONS -fno-exceptions -fno-rtti)
  if(QG_WARNINGS_AS_ERRORS)
    list(APPEND QG_WARNINGS -Werror)
    list(APPEND QG_C_HEADER_WARNINGS -Werror)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # g++ 12 reports false -Wrestrict overlaps inside libstdc++'s std::string
    # at -O3 (fixed in g++ 13); our own code has nothing for it to find.
    list(APPEND QG_WARNINGS -Wno-restrict)
  endif()
endif()

# Applies the sanitizer choice of QG_SANITIZER to one target.
function(qg_apply_sanitizer target)
  if(QG_SANITIZER STREQUAL "asan-ubsan")
    set(flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(${target} PRIVATE ${flags})
    target_link_options(${target} PRIVATE ${flags})
  elseif(QG_SANITIZER STREQUAL "tsan")
    set(flags -fsanitize=thread -fno-omit-frame-pointer)
    target_compile_options(${target} PRIVATE ${flags})
    target_link_options(${target} PRIVATE ${flags})
  endif()
endfunction()
