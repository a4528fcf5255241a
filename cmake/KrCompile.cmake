# Warnings as errors for our own targets; third-party code is never compiled with these.
set(KR_WARNINGS -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Wcast-align -Wpointer-arith
    -Wformat=2 -Wno-unused-parameter)

if(KR_SANITIZE_ADDRESS)
    # GCC's flow analysis under ASan reports std::function inside <regex> as maybe-uninitialized.
    list(APPEND KR_WARNINGS -Wno-maybe-uninitialized)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
# libFuzzer targets (tests/fuzz): clang only. Every library gets the fuzzer's coverage
# instrumentation and the sanitizers; only the fuzz programs link libFuzzer's main.
option(KR_BUILD_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(KR_BUILD_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "KR_BUILD_FUZZ needs clang (use the fuzz preset)")
    endif()
    # clang's pointer-overflow check stops in RapidJSON's internal stack, which offsets its still-null
    # buffer before the first allocation (a system header, not our code).
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-sanitize=pointer-overflow -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(KR_SANITIZE_THREAD)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

function(kr_target_defaults target)
    target_compile_options(${target} PRIVATE ${KR_WARNINGS})
    if(WIN32)
        target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    endif()
endfunction()

# kr_library(name SOURCES ... [WIN32_SOURCES ...] [POSIX_SOURCES ...] [LIBS ...])
function(kr_library name)
    cmake_parse_arguments(A "" "" "SOURCES;WIN32_SOURCES;POSIX_SOURCES;LIBS" ${ARGN})
    set(sources ${A_SOURCES})
    if(WIN32)
        list(APPEND sources ${A_WIN32_SOURCES})
    else()
        list(APPEND sources ${A_POSIX_SOURCES})
    endif()
    add_library(${name} STATIC ${sources})
    kr_target_defaults(${name})
    target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()
