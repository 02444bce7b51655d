# slotward.exe: a small PE32 GUI program with its own entry point and no C runtime. It imports
# from KERNEL32 and USER32 only; the memory helpers the compiler may call are our own.
add_executable(slotward WIN32 ${PRODUCT_SOURCES} ${CMAKE_SOURCE_DIR}/src/platform/win32/crt_min.cpp)
target_include_directories(slotward PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_options(slotward PRIVATE
    -Wall -Wextra -Werror
    -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-stack-protector -fno-stack-check -fno-threadsafe-statics
    -fno-use-cxa-atexit -ffunction-sections -fdata-sections -fno-ident -fno-builtin)
target_link_options(slotward PRIVATE
    -nostdlib -nostartfiles -Wl,--entry,_ProgramEntry -Wl,--subsystem,windows
    -Wl,--gc-sections -Wl,--no-insert-timestamp -s
    -Wl,-Map,${CMAKE_BINARY_DIR}/slotward.map)
target_link_libraries(slotward PRIVATE kernel32 user32)
set_target_properties(slotward PROPERTIES OUTPUT_NAME slotward SUFFIX .exe)

find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
include(${CMAKE_CURRENT_LIST_DIR}/resources.cmake)
add_test(NAME exe_footprint
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/build/check_exe.py
        $<TARGET_FILE:slotward> ${CMAKE_BINARY_DIR}/slotward.map ${MINGW_OBJDUMP}
        ${PROJECT_VERSION})

add_subdirectory(tests/release)
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
    add_subdirectory(tests/wine)
endif()
