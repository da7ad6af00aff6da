#include "WebMailModule.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <vector>

#include "FileMarker.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "settings/Tiedot.h"
#include "WebMailCalls.h"

const char *const WebMailModuleFileName = "tarnwick-webmail.so";

// The build's marker (TarnwickBuild.cpp, made by the build): linked into the
// programs that export their routines for the module, and into the module.
// Other programs that link the monitor's code have none. (A weak reference
// of default visibility: it goes through the GOT, so a missing one reads as
// null in a position-independent program too.)
extern "C" __attribute__((weak)) const char TwBuildMarker[];

#if defined(__SANITIZE_ADDRESS__)
#define TW_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)  // clang's way of saying it
#define TW_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(TW_ADDRESS_SANITIZER)
// The engine's own library (built without the sanitizer) frees some of its
// objects through a base-class pointer of another size, which the sized
// delete check reports inside it on every page torn down. Every program that
// may load the engine links this loader and leaves that one check out; an
// ASAN_OPTIONS of the environment still comes on top.
extern "C" const char *__asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

namespace {

constexpr char kMarker[] = "TW-BUILD:";
constexpr size_t kMarkerLength = sizeof kMarker - 1;
constexpr size_t kTokenLength = 64;  // a SHA-256 digest in lower-case hex

// The module's entry points (WebMailEntry.cpp), found by name.
using TVoidEntry = void (*)();

struct TModule {
    std::string Path;  // set by a test; else beside the executable
    std::string (*ExeName)() = nullptr;
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

bool IsTokenAt(const char *p, const char *end) {
    if (size_t(end - p) < kTokenLength + 1) return false;
    for (size_t i = 0; i < kTokenLength; ++i)
        if (!((p[i] >= '0' && p[i] <= '9') || (p[i] >= 'a' && p[i] <= 'f'))) return false;
    return p[kTokenLength] == '\0';
}

// Loads and checks the module; Error says why not.
void Open(TModule &m) {
    const std::string path = WebMailModulePath();
    m.Error = WebMailModuleRefusal(path);
    if (!m.Error.empty()) return;
    // Never unloaded: the engine leaves routines with the application.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        m.Error = DlError();
        return;
    }
    auto install = reinterpret_cast<TVoidEntry>(dlsym(handle, "TarnwickWebMailInstall"));
    auto freeForm = reinterpret_cast<TVoidEntry>(dlsym(handle, "TarnwickWebMailFree"));
    if (!install || !freeForm) {
        m.Error = path + " is not Tarnwick's web-mail module";
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
    if (!m.Path.empty()) return m.Path;
    const std::string exe = m.ExeName ? m.ExeName() : ApplicationExeName();
    // Without the program's own folder a bare name would be left, and
    // dlopen would search the library path for it.
    if (exe.empty() || exe[0] != '/') return {};
    return ExtractFilePath(exe) + WebMailModuleFileName;
}

void SetWebMailModulePath(const std::string &Path) { Module().Path = Path; }

void SetWebMailExeNameSource(std::string (*Source)()) { Module().ExeName = Source; }

std::string ProgramBuildToken() {
    if (!TwBuildMarker) return {};
    const char *p = TwBuildMarker;
    const char *end = p + std::strlen(p) + 1;
    if (std::strncmp(p, kMarker, kMarkerLength) != 0 || !IsTokenAt(p + kMarkerLength, end)) return {};
    return std::string(p + kMarkerLength, kTokenLength);
}

std::string BuildTokenOfFile(const std::string &Path) {
    // The token and the NUL after it.
    return FindMarkedText(Path, kMarker, kTokenLength + 1, [](std::string_view text, std::string &out) {
        if (!IsTokenAt(text.data(), text.data() + text.size())) return false;
        out.assign(text.data(), kTokenLength);
        return true;
    });
}

std::string WebMailModuleRefusal(const std::string &Path) {
    if (Path.empty())
        return std::string(WebMailModuleFileName) + " is not looked for: the program's own path cannot be read";
    if (Path[0] != '/') return Path + " is not looked for: the path is not a full one";
    if (!FileExists(Path)) return Path + " is missing";
    const std::string ours = ProgramBuildToken();
    if (ours.empty()) return Path + " is not loaded: this program carries no build marker";
    const std::string theirs = BuildTokenOfFile(Path);
    if (theirs.empty()) return Path + " is not Tarnwick's web-mail module (it carries no build marker)";
    if (theirs != ours) return Path + " belongs to another build of Tarnwick";
    return {};
}

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
