# slotward.exe: a small PE32 GUI program with its own entry point and no C runtime. It imports
# from KERNEL32 and USER32 only; the memory helpers the compiler may call are our own. The
# x86-64 build (preset win64) exists only for the Wine bench on machines that run no 32-bit code.
add_executable(slotward WIN32 ${PRODUCT_SOURCES} ${CMAKE_SOURCE_DIR}/src/platform/win32/crt_min.cpp)
target_include_directories(slotward PRIVATE ${CMAKE_SOURCE_DIR}/src)
# Functions get sections of their own so that the linker drops unused ones; data does not: the
# linker script would put per-variable zero sections into .data, and the file would carry their
# zeros instead of leaving them to .bss. No jump tables: each of their entries is an absolute
# address, and with it a relocation, where a few compares cost less.
target_compile_options(slotward PRIVATE
    -Wall -Wextra -Werror
    -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-stack-protector -fno-stack-check -fno-threadsafe-statics
    -fno-use-cxa-atexit -ffunction-sections -fno-ident -fno-builtin -fno-jump-tables)
# i686 symbols carry a leading underscore, x86-64 ones do not.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(SYMBOL_PREFIX _)
    # 32-bit Windows passes arguments on the stack and promises 4-byte alignment there: pushed
    # arguments and no realigning of frames to 16 bytes make the code a sixth smaller. The
    # stack probe GCC would call for a frame of a page or more is the C runtime's, which the
    # program does not have; no frame may come near a page instead, and the build says so.
    # No frame pointer either: the MinGW compiler keeps one by default on i686, three to five
    # bytes a function.
    target_compile_options(slotward PRIVATE -mno-accumulate-outgoing-args
        -mpreferred-stack-boundary=2 -mno-stack-arg-probe -Wframe-larger-than=3072
        -fomit-frame-pointer)
    target_link_options(slotward PRIVATE -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/slotward-i686.ld)
    set_property(TARGET slotward APPEND PROPERTY LINK_DEPENDS
                 ${CMAKE_SOURCE_DIR}/cmake/slotward-i686.ld)
else()
    set(SYMBOL_PREFIX "")
endif()
set(ENTRY_SYMBOL ${SYMBOL_PREFIX}ProgramEntry)
target_link_options(slotward PRIVATE
    -nostdlib -nostartfiles -Wl,--entry,${ENTRY_SYMBOL} -Wl,--subsystem,windows
    -Wl,--gc-sections -Wl,--no-insert-timestamp -s
    # Terminal-server aware: on a Remote Desktop host Windows then spares it the layer it puts
    # under older programs (a per-user Windows folder, INI file and registry mapping), none of
    # which SLOTWARD uses.
    -Wl,--tsaware
    -Wl,-Map,${CMAKE_BINARY_DIR}/slotward.map)
target_link_libraries(slotward PRIVATE kernel32 user32)
set_target_properties(slotward PROPERTIES OUTPUT_NAME slotward SUFFIX .exe)

# The installer's custom actions (packaging/actions/): one DLL in the installer's Binary table. The
# stopper ends the running copies before the installer replaces or removes the program and notes
# their sessions; the starter brings SLOTWARD back in those sessions afterwards, and a rollback
# does with the old program; before all of it, the installation folder is checked. KERNEL32 and
# MSI only (both are loaded in the installer's process; what else they need is loaded from the
# system folder at run time), no C runtime. The entries
# are exported by their plain names, as the CustomAction table names them.
add_library(actions SHARED ${CMAKE_SOURCE_DIR}/packaging/actions/actions.c
    ${CMAKE_SOURCE_DIR}/packaging/actions/stopper.c ${CMAKE_SOURCE_DIR}/packaging/actions/image_name.c
    ${CMAKE_SOURCE_DIR}/packaging/actions/starter.c ${CMAKE_SOURCE_DIR}/packaging/actions/start_copy.c
    ${CMAKE_SOURCE_DIR}/packaging/actions/sessions.c ${CMAKE_SOURCE_DIR}/packaging/actions/image_place.c
    ${CMAKE_SOURCE_DIR}/packaging/actions/start_choice.c ${CMAKE_SOURCE_DIR}/packaging/actions/log.c
    ${CMAKE_SOURCE_DIR}/packaging/actions/folder_check.c ${CMAKE_SOURCE_DIR}/packaging/actions/folder_guard.c)
target_compile_options(actions PRIVATE -Wall -Wextra -Werror -Os -fno-builtin
    -fno-asynchronous-unwind-tables -fno-stack-protector -fno-stack-check
    -fno-tree-loop-distribute-patterns)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # As for the program: pushed arguments, the 4-byte alignment 32-bit Windows promises, and
    # no frame near a page (there is no C runtime's stack probe).
    target_compile_options(actions PRIVATE -mno-accumulate-outgoing-args
        -mpreferred-stack-boundary=2 -mno-stack-arg-probe -Wframe-larger-than=3072)
    set(ACTIONS_ENTRY _ActionsMain@12)
else()
    set(ACTIONS_ENTRY ActionsMain)
endif()
target_link_options(actions PRIVATE -nostdlib -nostartfiles -Wl,--entry,${ACTIONS_ENTRY}
    -Wl,--kill-at -Wl,--gc-sections -Wl,--no-insert-timestamp -s)
target_link_libraries(actions PRIVATE kernel32 msi)
set_target_properties(actions PROPERTIES PREFIX "" OUTPUT_NAME actions SUFFIX .dll)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
include(${CMAKE_CURRENT_LIST_DIR}/resources.cmake)
# What ships is the i686 build: only it is held to the footprint and made into releases.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
    add_test(NAME exe_footprint
        COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/build/check_exe.py
            $<TARGET_FILE:slotward> ${CMAKE_BINARY_DIR}/slotward.map ${MINGW_OBJDUMP}
            ${PROJECT_VERSION})
    add_subdirectory(tests/release)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
    add_subdirectory(tests/wine)
endif()
