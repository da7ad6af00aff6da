#include "WebMailModule.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <cstdio>

#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "settings/TarnwickVersion.h"
#include "settings/Tiedot.h"
#include "WebMailCalls.h"

const char *const WebMailModuleFileName = "tarnwick-webmail.so";

namespace {

// The module's entry points (WebMailEntry.cpp), found by name.
using TVersionEntry = const char *(*)();
using TVoidEntry = void (*)();

struct TModule {
    std::string Path;  // set by a test; else beside the executable
    bool Tried = false;
    void *Handle = nullptr;
    TVoidEntry Install = nullptr;
    TVoidEntry FreeForm = nullptr;
    std::string Error;
};

TModule &Module() {
    static TModule module;
    return module;
}

std::string DlError() {
    const char *e = dlerror();
    return e ? e : "unknown error";
}

// Loads and checks the module; Error says why not.
void Open(TModule &m) {
    const std::string path = WebMailModulePath();
    if (!FileExists(path)) {
        m.Error = path + " is missing";
        return;
    }
    // Never unloaded: the engine leaves routines with the application.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        m.Error = DlError();
        return;
    }
    auto version = reinterpret_cast<TVersionEntry>(dlsym(handle, "TarnwickWebMailVersion"));
    auto install = reinterpret_cast<TVoidEntry>(dlsym(handle, "TarnwickWebMailInstall"));
    auto freeForm = reinterpret_cast<TVoidEntry>(dlsym(handle, "TarnwickWebMailFree"));
    if (!version || !install || !freeForm) {
        m.Error = path + " is not Tarnwick's web-mail module";
        return;
    }
    // The module works on the program's own data: one of another build
    // must not run a line of it.
    const std::string theirs = version();
    if (theirs != TarnwickVersion) {
        m.Error = path + " belongs to Tarnwick " + theirs + ", not " + std::string(TarnwickVersion);
        return;
    }
    m.Handle = handle;
    m.Install = install;
    m.FreeForm = freeForm;
}

bool LoadOnFirstUse() { return LoadWebMailModule(); }

}  // namespace

std::string WebMailModulePath() {
    const TModule &m = Module();
    return m.Path.empty() ? ApplicationFolder() + WebMailModuleFileName : m.Path;
}

void SetWebMailModulePath(const std::string &Path) { Module().Path = Path; }

bool LoadWebMailModule() {
    TModule &m = Module();
    if (!m.Tried) {
        m.Tried = true;
        Open(m);
        if (!m.Handle)
            std::fprintf(stderr, "Tarnwick: web mail is not available: %s\n", m.Error.c_str());
    }
    if (!m.Handle) return false;
    // Again after a test emptied the route.
    m.Install();
    return WebMailAvailable();
}

bool WebMailModuleLoaded() { return Module().Handle != nullptr; }

std::string WebMailModuleError() { return Module().Error; }

void LoadWebMailModuleOnFirstUse() { SetWebMailLoader(&LoadOnFirstUse); }

void PrepareWebMailModule(const std::vector<std::string> &Args) {
    LoadWebMailModuleOnFirstUse();
    if (!SettingsHoldWebMail(ProgramFile(SettingsFileNameOfArgs(Args)), HostDataFilePath())) return;
    // The engine renders through OpenGL contexts shared with the
    // application's; Qt makes them shareable only when told before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    LoadWebMailModule();
}

void FreeWebMailForm() {
    const TModule &m = Module();
    if (m.FreeForm) m.FreeForm();
}
