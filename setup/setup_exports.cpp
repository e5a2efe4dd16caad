// The library's four exports. Nothing else is visible outside it, so its
// own copies of the platform ports cannot mix with those of the process
// that loads it.
#include "setup/keshlor_setup.h"

#include "setup/installer_console.h"
#include "setup/setup_hooks.h"

#include <QFile>

namespace {

// The library keeps nothing between calls: the question's port lives for
// one call.
class InstallerPortScope {
  public:
    InstallerPortScope() { plat::SetMessageBoxPort(setup::InstallerMessageBoxPort()); }
    ~InstallerPortScope() { plat::SetMessageBoxPort({}); }
    InstallerPortScope(const InstallerPortScope&) = delete;
    InstallerPortScope& operator=(const InstallerPortScope&) = delete;
};

QString FromSystemPath(const char* path) {
    return path ? QFile::decodeName(path) : QString();
}

} // namespace

// No exception may cross into the installer; a start step that cannot
// finish cancels, since it cannot tell whether the program was closed.
extern "C" int Install_Init(void* hwndParent, int /*fFirstCall*/, int fPreviouslyInstalled,
                            const char* pszInstallDir) {
    try {
        InstallerPortScope port;
        return setup::InstallInit(hwndParent, fPreviouslyInstalled != 0,
                                  FromSystemPath(pszInstallDir), setup::SystemContext());
    } catch (...) {
        return codeINSTALL_INIT_CANCEL;
    }
}

extern "C" int Install_Exit(void* /*hwndParent*/, const char* /*pszInstallDir*/,
                            unsigned /*cFailedDirs*/, unsigned /*cFailedFiles*/,
                            unsigned /*cFailedRegKeys*/, unsigned /*cFailedRegVals*/,
                            unsigned /*cFailedShortcuts*/) {
    try {
        return setup::InstallExit(setup::SystemContext());
    } catch (...) {
        return codeINSTALL_EXIT_DONE;
    }
}

extern "C" int Uninstall_Init(void* hwndParent, const char* /*pszInstallDir*/) {
    try {
        InstallerPortScope port;
        return setup::UninstallInit(hwndParent, setup::SystemContext());
    } catch (...) {
        return codeUNINSTALL_INIT_CANCEL;
    }
}

extern "C" int Uninstall_Exit(void* /*hwndParent*/) {
    return codeUNINSTALL_EXIT_DONE;
}
