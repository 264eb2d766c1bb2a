# Warnings are errors for our own code only; host and Qt headers come in as system headers.
function(quillmar_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    -Wno-missing-field-initializers)
endfunction()
