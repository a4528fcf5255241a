/* The public interface of KelvaneInstallHelper.dll: ten functions without arguments, exported under
 * their plain names with the stdcall convention. A host loads the library and finds them with
 * GetProcAddress; KR_INSTALL_HELPER_EXPORTS lists them with their results for such lookups.
 *
 * Results:
 *   GetInstallDirectory     the install root ending in "\", "" when it cannot be resolved; valid
 *                           until the next call that resolves the directories again
 *   InstallPlugin           1 started, 0 no directories or no settings answer
 *   InstallGame             1
 *   GetInstallPluginStatus,
 *   GetInstallGameStatus    0 no run or nothing measured yet, 1..99 percent, 100 finished,
 *                           -1 server or file list unreachable, -2 any other failure
 *   EndInstallPlugin,
 *   EndInstallGame,
 *   EndInstall              1; they wait for the run's threads to end
 *   Uninstall               0 removed, -1 refused, -2 removal failed
 *   IsDirectXInstalled      1 present, 0 absent
 *
 * While a run exists the library keeps itself loaded, so a host that unloads it without an End call
 * does not pull the code away from the running threads.
 */
#ifndef KELVANE_INSTALL_HELPER_H
#define KELVANE_INSTALL_HELPER_H

#ifdef __cplusplus
extern "C" {
#endif

#ifdef KR_INSTALL_HELPER_BUILD
#define KR_INSTALL_HELPER_API __declspec(dllexport)
#else
#define KR_INSTALL_HELPER_API __declspec(dllimport)
#endif

/* X(name, result type) for every export, in the order above. */
#define KR_INSTALL_HELPER_EXPORTS(X)                                                                 \
    X(GetInstallDirectory, const char*)                                                              \
    X(InstallPlugin, int)                                                                            \
    X(InstallGame, int)                                                                              \
    X(GetInstallPluginStatus, int)                                                                   \
    X(GetInstallGameStatus, int)                                                                     \
    X(EndInstallPlugin, int)                                                                         \
    X(EndInstallGame, int)                                                                           \
    X(EndInstall, int)                                                                               \
    X(Uninstall, int)                                                                                \
    X(IsDirectXInstalled, int)

#define KR_INSTALL_HELPER_DECLARE(name, result) KR_INSTALL_HELPER_API result __stdcall name(void);
KR_INSTALL_HELPER_EXPORTS(KR_INSTALL_HELPER_DECLARE)
#undef KR_INSTALL_HELPER_DECLARE

/* Pointer types for GetProcAddress: KrInstallHelperInstallPluginFn and so on. */
#define KR_INSTALL_HELPER_POINTER(name, result) typedef result(__stdcall* KrInstallHelper##name##Fn)(void);
KR_INSTALL_HELPER_EXPORTS(KR_INSTALL_HELPER_POINTER)
#undef KR_INSTALL_HELPER_POINTER

#ifdef __cplusplus
}
#endif

#endif
