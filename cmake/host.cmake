# The host build: the product sources against the simulated platform, GoogleTest unit tests,
# optionally under sanitizers or with line coverage, and the libFuzzer targets.
option(SLOTWARD_TSAN "Build the host tests with ThreadSanitizer" OFF)
option(SLOTWARD_COVERAGE "Measure the host tests' line coverage of the product sources" OFF)
set(WARNINGS -Wall -Wextra -Werror)
set(SANITIZE_FLAGS)
if(SLOTWARD_SANITIZE)
    set(SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(SLOTWARD_TSAN)
    set(SANITIZE_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()

file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/sim/*.cpp)
add_library(simplatform STATIC ${SIM_SOURCES})
target_include_directories(simplatform PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(simplatform PRIVATE ${WARNINGS} ${SANITIZE_FLAGS})
find_package(Threads REQUIRED)
target_link_libraries(simplatform PUBLIC Threads::Threads)
target_link_options(simplatform PUBLIC ${SANITIZE_FLAGS})

add_library(slotward_core STATIC ${PRODUCT_SOURCES})
target_include_directories(slotward_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(slotward_core PRIVATE ${WARNINGS} ${SANITIZE_FLAGS} -fno-exceptions -fno-rtti)
target_link_libraries(slotward_core PUBLIC simplatform)
if(SLOTWARD_COVERAGE)
    target_compile_options(slotward_core PRIVATE --coverage)
    target_link_options(slotward_core PUBLIC --coverage)
endif()

if(SLOTWARD_FUZZ)
    include(${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz.cmake OPTIONAL)
else()
    find_package(GTest REQUIRED)
    include(GoogleTest)
    file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
    # The installer's decisions from image names, from tokens' facts and on the installation
    # folder are plain C without system headers: their tables are tested here with the product's.
    add_executable(unit_tests ${UNIT_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/packaging/actions/image_place.c
                              ${CMAKE_SOURCE_DIR}/packaging/actions/start_choice.c
                              ${CMAKE_SOURCE_DIR}/packaging/actions/folder_check.c)
    target_compile_options(unit_tests PRIVATE ${WARNINGS} ${SANITIZE_FLAGS})
    target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit
                                                  ${CMAKE_SOURCE_DIR}/packaging/actions)
    target_link_libraries(unit_tests PRIVATE slotward_core GTest::gtest GTest::gtest_main)
    gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
endif()
