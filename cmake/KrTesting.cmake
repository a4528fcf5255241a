# Natively every test group is its own GoogleTest program. For Windows all groups are gathered into
# one program (tests/wine) that runs under Wine, so every portable test also runs on the real target.
#
# kr_add_tests(name SOURCES ... [LIBS ...] [LABEL unit|integration] [NATIVE_ONLY] [WITH_SERVERS])
# WITH_SERVERS runs the group inside tests/support/run_with_servers.sh (the Windows program always is).
function(kr_add_tests name)
    cmake_parse_arguments(A "NATIVE_ONLY;WITH_SERVERS" "LABEL" "SOURCES;LIBS" ${ARGN})
    if(NOT A_LABEL)
        set(A_LABEL unit)
    endif()
    if(WIN32)
        if(NOT A_NATIVE_ONLY)
            foreach(src ${A_SOURCES})
                get_filename_component(abs ${src} ABSOLUTE)
                set_property(GLOBAL APPEND PROPERTY KR_WIN_TEST_SOURCES ${abs})
            endforeach()
            set_property(GLOBAL APPEND PROPERTY KR_WIN_TEST_LIBS ${A_LIBS})
        endif()
        return()
    endif()
    add_executable(${name} ${A_SOURCES})
    kr_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${A_LIBS} kr_test_main)
    if(A_WITH_SERVERS)
        add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/support/run_with_servers.sh $<TARGET_FILE:${name}>)
        # The release is packed with the native packer of this build.
        add_dependencies(${name} kr-pack)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS ${A_LABEL}
        ENVIRONMENT "KR_SOURCE_DIR=${CMAKE_SOURCE_DIR};KR_BINARY_DIR=${CMAKE_BINARY_DIR};KR_HOST_BIN=${CMAKE_BINARY_DIR}/bin")
endfunction()
