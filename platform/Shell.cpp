#include "Shell.h"

#include <QDesktopServices>
#include <QUrl>
#include <mutex>

namespace {
std::mutex gShellLock;
std::function<bool(const std::string &)> gShellHook;
}  // namespace

bool ShellOpen(const std::string &target) {
    std::function<bool(const std::string &)> hook;
    {
        std::lock_guard<std::mutex> g(gShellLock);
        hook = gShellHook;
    }
    if (hook) return hook(target);
    if (target.empty()) return false;
    return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(target)));
}

void SetShellOpenHook(std::function<bool(const std::string &)> hook) {
    std::lock_guard<std::mutex> g(gShellLock);
    gShellHook = std::move(hook);
}
