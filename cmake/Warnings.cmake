set(QG_WARNINGS -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # g++ 12 reports false -Wrestrict overlaps inside libstdc++'s std::string at
  # -O3 (fixed in g++ 13); our own code has nothing for it to find.
  list(APPEND QG_WARNINGS -Wno-restrict)
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
