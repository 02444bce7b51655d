# slotward.exe's resources (packaging/): the version record, the application manifest and the
# icon, all carrying the project's version. Included by windows.cmake.
enable_language(RC)
set(RES_DIR ${CMAKE_BINARY_DIR}/resources)
set(SLOTWARD_VERSION4 ${PROJECT_VERSION}.0) # the manifest wants four parts

# The manifest as the loader reads it: without the source's comments and indentation, which
# would cost about 2 KB of a program that must stay within 17 KiB.
set(MANIFEST_SOURCE ${CMAKE_SOURCE_DIR}/packaging/slotward.manifest)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MANIFEST_SOURCE})
file(READ ${MANIFEST_SOURCE} manifest)
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" manifest "${manifest}")
string(REGEX REPLACE ">[ \t\r\n]+<" "><" manifest "${manifest}")
string(REGEX REPLACE "[ \t\r\n]+" " " manifest "${manifest}")
string(STRIP "${manifest}" manifest)
file(CONFIGURE OUTPUT ${RES_DIR}/slotward.manifest CONTENT "${manifest}" @ONLY)

# The version record's CompanyName is the installer's Manufacturer: one name, kept in the .wxs.
set(WXS_SOURCE ${CMAKE_SOURCE_DIR}/packaging/slotward.wxs)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${WXS_SOURCE})
file(READ ${WXS_SOURCE} wxs)
if(NOT wxs MATCHES "Manufacturer=\"([^\"]+)\"")
    message(FATAL_ERROR "packaging/slotward.wxs names no Manufacturer")
endif()
set(SLOTWARD_MANUFACTURER ${CMAKE_MATCH_1})

configure_file(${CMAKE_SOURCE_DIR}/packaging/slotward.rc.in ${RES_DIR}/slotward.rc @ONLY)
# The version for scripts/release.sh, which names the zip and the installer after it.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/version.txt CONTENT "${PROJECT_VERSION}\n")

# The icon is drawn with Pillow (Debian's python3-pil), which is installed for the system's
# python3; the first python3 on PATH may be another one.
foreach(candidate ${Python3_EXECUTABLE} /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import PIL" RESULT_VARIABLE no_pil
                    OUTPUT_QUIET ERROR_QUIET)
    if(no_pil EQUAL 0)
        set(ICON_PYTHON ${candidate})
        break()
    endif()
endforeach()
if(NOT ICON_PYTHON)
    message(FATAL_ERROR "Pillow draws the icon: install python3-pil (scripts/setup.sh does)")
endif()
add_custom_command(OUTPUT ${RES_DIR}/slotward.ico
    COMMAND ${ICON_PYTHON} ${CMAKE_SOURCE_DIR}/scripts/make_icon.py ${RES_DIR}/slotward.ico
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make_icon.py ${CMAKE_SOURCE_DIR}/packaging/icon.py
    COMMENT "Drawing the icon")

target_sources(slotward PRIVATE ${RES_DIR}/slotward.rc)
set_source_files_properties(${RES_DIR}/slotward.rc PROPERTIES
    INCLUDE_DIRECTORIES ${RES_DIR}
    OBJECT_DEPENDS "${RES_DIR}/slotward.ico;${RES_DIR}/slotward.manifest")
