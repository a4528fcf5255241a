# The installation engine: download-server access, the file-list cache, CKrInstaller and the
# DirectX check, on top of the engine's file and zip layer. It links only what it uses: the platform
# seam (WinINet on Windows, libcurl natively) and the engine's own base; events go to an interface the
# owner supplies, so no metrics or HTTP-client code comes with it.
kr_library(kr_install
    SOURCES download_server.cpp file_list_cache.cpp install_layout.cpp installer.cpp installer_states.cpp
            installer_threads.cpp item_queue.cpp retry_policy.cpp engine_clock.cpp directx_check.cpp
            rate_limiter.cpp extract_claims.cpp
    LIBS kr_install_io kr_base kr_platform kr_release)
if(WIN32)
    # ShellExecuteA of the DirectX web setup, behind the platform seam.
    target_link_libraries(kr_install PUBLIC shell32)
endif()
