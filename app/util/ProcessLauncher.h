#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Starts program with args as a detached process: no shell, so each element
// of args reaches the program as one argument, and nothing waits for it. It
// inherits the standard descriptors only, none of our files or sockets.
// Returns whether the program could be executed.
bool LaunchDetached(const QString& program, const QStringList& args);

// For tests only: while set, LaunchDetached calls hook instead of starting
// anything. An empty function restores the real launcher.
using LaunchHook = std::function<bool(const QString& program, const QStringList& args)>;
void SetLaunchHookForTesting(LaunchHook hook);
