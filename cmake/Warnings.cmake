set(QG_WARNINGS -Wall -Wextra -Werror)

# Applies the sanitizer choice of QG_SANITIZER to one target.
function(qg_apply_sanitizer target)
  if(QG_SANITIZER STREQUAL "asan-ubsan")
    set(flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(${target} PRIVATE ${flags})
    target_link_options(${target} PRIVATE ${flags})
  endif()
endfunction()
