# libFuzzer targets (clang only): each links the product sources and the simulated platform,
# all built with the fuzzer's coverage and ASan/UBSan, and gets a short CTest run on a copy of
# its seed corpus so that the corpus in the tree is never written to.
set(FUZZ_LINK_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
set(FUZZ_LIB_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
target_compile_options(simplatform PRIVATE ${FUZZ_LIB_FLAGS})
target_compile_options(slotward_core PRIVATE ${FUZZ_LIB_FLAGS})

function(slotward_fuzz_target name corpus)
    add_executable(${name} ${CMAKE_SOURCE_DIR}/tests/fuzz/${name}.cpp)
    target_compile_options(${name} PRIVATE ${WARNINGS} ${FUZZ_LIB_FLAGS})
    target_link_options(${name} PRIVATE ${FUZZ_LINK_FLAGS})
    target_link_libraries(${name} PRIVATE slotward_core)
    add_test(NAME ${name}
        COMMAND sh -c "work=$(mktemp -d) && cp \"$1\"/* \"$work\" && \"$0\" -max_total_time=20 \"$work\"; status=$?; rm -rf \"$work\"; exit $status"
                $<TARGET_FILE:${name}> ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${corpus})
endfunction()

slotward_fuzz_target(fuzz_settings settings)
