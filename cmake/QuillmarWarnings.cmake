# Warnings for our own code only; host and Qt headers come in as system headers. They become
# errors with QUILLMAR_WERROR, as in the project's own scripts and CI, but not for someone building
# against a newer compiler, OBS or Qt.
function(quillmar_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers
    $<$<BOOL:${QUILLMAR_WERROR}>:-Werror>)
endfunction()
