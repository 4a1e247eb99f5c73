# Libraries taken from the system: GoogleTest and Google Benchmark from Debian, CLI11 and stb as headers.
# The Windows cross build cannot use /usr/include wholesale (it would pick up glibc headers), so header-only
# libraries are reached through a directory of links that holds nothing else.

set(TESSERA_HEADERS_DIR ${CMAKE_BINARY_DIR}/third_party_include)
file(MAKE_DIRECTORY ${TESSERA_HEADERS_DIR})
foreach(dir CLI stb)
    if(NOT EXISTS /usr/include/${dir})
        message(FATAL_ERROR "/usr/include/${dir} is missing: install libcli11-dev and libstb-dev (scripts/deps.sh)")
    endif()
    file(CREATE_LINK /usr/include/${dir} ${TESSERA_HEADERS_DIR}/${dir} SYMBOLIC)
endforeach()
add_library(tessera_third_party INTERFACE)
target_include_directories(tessera_third_party SYSTEM INTERFACE ${TESSERA_HEADERS_DIR})

if(TESSERA_TESTS)
    if(WIN32)
        # Debian's GoogleTest source, cross-built.
        set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    else()
        find_package(GTest REQUIRED)
    endif()
endif()
