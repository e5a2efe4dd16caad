/* KeshlorSetup: the hooks a package installer calls while it installs or
 * removes Keshlor. Plain C, so that any installer can load the library and
 * find the four functions by name. Paths are in the system's file-name
 * encoding (UTF-8). */
#ifndef KESHLOR_SETUP_H
#define KESHLOR_SETUP_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KESHLOR_SETUP_EXPORT __attribute__((visibility("default")))
#else
#define KESHLOR_SETUP_EXPORT
#endif

enum {
    codeINSTALL_INIT_CONTINUE = 0,
    codeINSTALL_INIT_CANCEL = 1,
};
enum {
    codeINSTALL_EXIT_DONE = 0,
};
enum {
    codeUNINSTALL_INIT_CONTINUE = 0,
    codeUNINSTALL_INIT_CANCEL = 1,
};
enum {
    codeUNINSTALL_EXIT_DONE = 0,
};

/* Before the files are copied: closes a running copy on a re-installation,
 * and removes an executable that an installation without the recorded
 * paths left in pszInstallDir. */
KESHLOR_SETUP_EXPORT int Install_Init(void* hwndParent, int fFirstCall, int fPreviouslyInstalled,
                                      const char* pszInstallDir);
/* After the files are copied and the paths recorded: puts the executable in
 * its final place and re-creates its launcher. */
KESHLOR_SETUP_EXPORT int Install_Exit(void* hwndParent, const char* pszInstallDir,
                                      unsigned cFailedDirs, unsigned cFailedFiles,
                                      unsigned cFailedRegKeys, unsigned cFailedRegVals,
                                      unsigned cFailedShortcuts);
/* Before the files are removed: closes a running copy, removes the launcher
 * and gives the executable back the name the installer gave it. */
KESHLOR_SETUP_EXPORT int Uninstall_Init(void* hwndParent, const char* pszInstallDir);
/* After the files are removed. */
KESHLOR_SETUP_EXPORT int Uninstall_Exit(void* hwndParent);

typedef int (*InstallInitFunction)(void*, int, int, const char*);
typedef int (*InstallExitFunction)(void*, const char*, unsigned, unsigned, unsigned, unsigned,
                                   unsigned);
typedef int (*UninstallInitFunction)(void*, const char*);
typedef int (*UninstallExitFunction)(void*);

#ifdef __cplusplus
}
#endif

#endif
