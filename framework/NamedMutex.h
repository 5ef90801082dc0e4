// A named, system-wide mutex: the stand-in for CreateMutexW with a name.
//
// An exclusive flock on a lock file named after the mutex (and the user's
// id) in $XDG_RUNTIME_DIR, else the temporary directory. The lock belongs to
// the open file: it lasts while this object lives, and a process that ends
// in any way (a crash, SIGKILL) frees it. The file is never removed, so two
// processes always lock the same file.
// Kept: "created" versus "already exists" (another process holds it).
// Not kept: ownership handed between threads, waiting for the mutex.
#pragma once

#include <QString>

class CNamedMutex
{
public:
    enum class State { Failed, Created, AlreadyExists };

    // `directory` empty: $XDG_RUNTIME_DIR, else the temporary directory.
    explicit CNamedMutex(const QString& name, const QString& directory = QString());
    ~CNamedMutex();
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;

    State GetState() const { return m_state; }
    QString FilePath() const { return m_path; }
    static QString DefaultDirectory();

private:
    int m_fd = -1;
    State m_state = State::Failed;
    QString m_path;
};
