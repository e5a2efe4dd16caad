// keshlor-setup: an installer's part around the hook library. It loads
// KeshlorSetup from its own folder, calls one export and ends with the
// export's code, or records and removes the three paths; install-user and
// uninstall-user run a whole per-user installation (user_install.h).
#include "setup/keshlor_setup.h"
#include "setup/setup_store.h"
#include "setup/user_install.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using setup::kLibraryError;
using setup::kStoreError;
using setup::kUsageError;

const char kUsage[] = "usage: keshlor-setup install-init [--previously-installed] INSTALL_DIR\n"
                      "       keshlor-setup install-exit INSTALL_DIR\n"
                      "       keshlor-setup uninstall-init INSTALL_DIR\n"
                      "       keshlor-setup uninstall-exit\n"
                      "       keshlor-setup record-paths TEMP APP APPLINK\n"
                      "       keshlor-setup forget-paths\n"
                      "       keshlor-setup install-user [--force] [--from PREFIX]\n"
                      "       keshlor-setup uninstall-user\n"
                      "       keshlor-setup --help\n";

const char kHelp[] =
    "\n"
    "Runs Keshlor's installer hooks for a package installer, or installs Keshlor\n"
    "for the current user in ~/.local without root.\n"
    "\n"
    "  install-init ... uninstall-exit  call one hook of libKeshlorSetup.so\n"
    "  record-paths, forget-paths        keep or drop the three paths the hooks read\n"
    "  install-user      install from PREFIX (default: the tree keshlor-setup is in)\n"
    "                    into ~/.local; refuses to replace a file it did not write\n"
    "      --force       replace such files, keeping each as NAME.keshlor-saved\n"
    "  uninstall-user    remove the files install-user wrote and that are unchanged\n"
    "  -h, --help        show this help and exit\n"
    "\n"
    "Exit status: 0 done; 1 refused or cancelled, nothing changed; 2 usage;\n"
    "3 hook library; 4 settings file; 5 files.\n";

// The folder of this executable, with its final '/'; empty when unknown.
std::string OwnFolder() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return {};
    std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

std::string LibraryPath() {
    return OwnFolder() + "libKeshlorSetup.so";
}

class Library {
  public:
    Library() : handle_(dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (!handle_)
            std::fprintf(stderr, "keshlor-setup: %s\n", dlerror());
    }
    ~Library() {
        if (handle_)
            dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    template <typename Function> Function Find(const char* name) {
        if (!handle_)
            return nullptr;
        void* symbol = dlsym(handle_, name);
        if (!symbol)
            std::fprintf(stderr, "keshlor-setup: %s\n", dlerror());
        return reinterpret_cast<Function>(symbol);
    }

  private:
    void* handle_;
};

int Usage() {
    std::fputs(kUsage, stderr);
    return kUsageError;
}

// The files come from the tree the driver is installed in (PREFIX/libexec/keshlor)
// unless --from names another.
int RunUserCommand(const std::string& command, const std::vector<const char*>& args) {
    const bool install = command == "install-user";
    QString source = QFile::decodeName(OwnFolder().c_str()) + QStringLiteral("../..");
    bool force = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (install && std::strcmp(args[i], "--force") == 0)
            force = true;
        else if (install && std::strcmp(args[i], "--from") == 0 && i + 1 < args.size())
            source = QFile::decodeName(args[++i]);
        else
            return Usage();
    }
    Library library;
    setup::HookExports hooks;
    hooks.installInit = library.Find<InstallInitFunction>("Install_Init");
    hooks.installExit = library.Find<InstallExitFunction>("Install_Exit");
    hooks.uninstallInit = library.Find<UninstallInitFunction>("Uninstall_Init");
    hooks.uninstallExit = library.Find<UninstallExitFunction>("Uninstall_Exit");
    if (!hooks.installInit || !hooks.installExit || !hooks.uninstallInit || !hooks.uninstallExit)
        return kLibraryError;
    const setup::UserLayout layout =
        setup::CurrentUserLayout(source, QFile::decodeName(OwnFolder().c_str()));
    return install ? setup::InstallForUser(hooks, layout, force)
                   : setup::UninstallForUser(hooks, layout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    if ((command == "--help" || command == "-h") && argc == 2) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    std::vector<const char*> args(argv + 2, argv + argc);

    if (command == "record-paths" && args.size() == 3) {
        const setup::InstallPaths paths{QFile::decodeName(args[0]), QFile::decodeName(args[1]),
                                        QFile::decodeName(args[2])};
        return setup::WriteInstallPaths(setup::SystemStorePath(), paths) ? 0 : kStoreError;
    }
    if (command == "forget-paths" && args.empty())
        return setup::RemoveInstallPaths(setup::SystemStorePath()) ? 0 : kStoreError;
    if (command == "install-user" || command == "uninstall-user")
        return RunUserCommand(command, args);

    // There is no window to own the question.
    void* const hwndParent = nullptr;
    if (command == "install-init" && (args.size() == 1 || args.size() == 2)) {
        const bool previously =
            args.size() == 2 && std::strcmp(args[0], "--previously-installed") == 0;
        if (args.size() == 2 && !previously)
            return Usage();
        Library library;
        const auto installInit = library.Find<InstallInitFunction>("Install_Init");
        return installInit ? installInit(hwndParent, 1, previously ? 1 : 0, args.back())
                           : kLibraryError;
    }
    if (command == "install-exit" && args.size() == 1) {
        Library library;
        const auto installExit = library.Find<InstallExitFunction>("Install_Exit");
        return installExit ? installExit(hwndParent, args[0], 0, 0, 0, 0, 0) : kLibraryError;
    }
    if (command == "uninstall-init" && args.size() == 1) {
        Library library;
        const auto uninstallInit = library.Find<UninstallInitFunction>("Uninstall_Init");
        return uninstallInit ? uninstallInit(hwndParent, args[0]) : kLibraryError;
    }
    if (command == "uninstall-exit" && args.empty()) {
        Library library;
        const auto uninstallExit = library.Find<UninstallExitFunction>("Uninstall_Exit");
        return uninstallExit ? uninstallExit(hwndParent) : kLibraryError;
    }
    return Usage();
}
