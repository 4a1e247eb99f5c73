# Warnings on for our code, and the floating-point rules that the byte-exact formulas depend on: no fused
# multiply-add contraction and no fast-math, so that every build evaluates grey values in the written order.
add_compile_options(-ffp-contract=off -fno-fast-math)

function(tessera_target_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
endfunction()
