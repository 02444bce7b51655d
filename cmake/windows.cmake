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
    -Wl,--gc-sections -Wl,--no-insert-timestamp -s)
target_link_libraries(slotward PRIVATE kernel32 user32)
set_target_properties(slotward PROPERTIES OUTPUT_NAME slotward SUFFIX .exe)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
    add_subdirectory(tests/wine)
endif()
