# One place for the warning policy: every target of this project calls olvex_warnings().
function(olvex_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
    if(OLVEX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
