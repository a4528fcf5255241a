# The machine description: portable rules over the facts the platform seam gathers.
kr_library(kr_sysinfo
    SOURCES system_info.cpp system_info_rules.cpp
    LIBS kr_base)
if(WIN32)
    # The Win32 side of the seam lives in kr_platform, so the libraries it calls are linked there:
    # waveOut (winmm) and CoInitialize (ole32). VerLanguageNameA comes from kernel32; Direct3D 9 is
    # loaded at run time.
    target_link_libraries(kr_platform PUBLIC winmm ole32)
endif()
