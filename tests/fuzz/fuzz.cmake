# libFuzzer targets (clang only): each links the product sources and the simulated platform,
# all built with the fuzzer's coverage and ASan/UBSan, and gets a short CTest run with the
# shared dictionary on a copy of its seed corpus, so that the corpus in the tree is never
# written to.
set(FUZZ_LINK_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
set(FUZZ_LIB_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
set(FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)
set(FUZZ_SECONDS 15 CACHE STRING "Length of each fuzz target's run in the tests, in seconds")
target_compile_options(simplatform PRIVATE ${FUZZ_LIB_FLAGS})
target_compile_options(slotward_core PRIVATE ${FUZZ_LIB_FLAGS})

add_library(fuzz_support STATIC ${FUZZ_DIR}/fuzz_support.cpp)
target_compile_options(fuzz_support PRIVATE ${WARNINGS} ${FUZZ_LIB_FLAGS})
target_link_libraries(fuzz_support PUBLIC slotward_core)

# The corpus folder has the target's name without its fuzz_ prefix.
function(slotward_fuzz_target name)
    string(REPLACE "fuzz_" "" corpus ${name})
    add_executable(${name} ${FUZZ_DIR}/${name}.cpp)
    target_compile_options(${name} PRIVATE ${WARNINGS} ${FUZZ_LIB_FLAGS})
    target_link_options(${name} PRIVATE ${FUZZ_LINK_FLAGS})
    target_link_libraries(${name} PRIVATE fuzz_support)
    add_test(NAME ${name}
        COMMAND sh -c "work=$(mktemp -d) && cp \"$1\"/* \"$work\" && \"$0\" -max_total_time=$2 -dict=\"$3\" \"$work\"; status=$?; rm -rf \"$work\"; exit $status"
                $<TARGET_FILE:${name}> ${FUZZ_DIR}/corpus/${corpus} ${FUZZ_SECONDS}
                ${FUZZ_DIR}/settings.dict)
endfunction()

slotward_fuzz_target(fuzz_command_line)
slotward_fuzz_target(fuzz_settings_file)
