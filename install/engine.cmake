# The installation engine: download-server access, the file-list cache, CKrInstaller and the
# DirectX check, on top of the engine's file and zip layer.
kr_library(kr_install
    SOURCES download_server.cpp file_list_cache.cpp installer.cpp installer_threads.cpp
            installer_events.cpp directx_check.cpp
    LIBS kr_install_io kr_metrics kr_base kr_platform)
if(WIN32)
    # ShellExecuteA of the DirectX web setup, behind the platform seam.
    target_link_libraries(kr_install PUBLIC shell32)
endif()
