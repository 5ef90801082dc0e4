#include "app/util/ProcessLauncher.h"

#include <QProcess>

#include <mutex>

namespace {

std::mutex g_hookMutex;
LaunchHook g_hook;

} // namespace

bool LaunchDetached(const QString& program, const QStringList& args)
{
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        if (g_hook)
            return g_hook(program, args);
    }
    return QProcess::startDetached(program, args);
}

void SetLaunchHookForTesting(LaunchHook hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}
