# The project's own targets build with every warning as an error.
function(velmar_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
