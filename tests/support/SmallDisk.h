#pragma once
// A small tmpfs mounted over a folder, for tests of a full disk. Needs a
// mount namespace of the test's own (corvane_add_test(... MOUNT_NAMESPACE) gives one).
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

class SmallDisk {
public:
    SmallDisk(const std::string& path, const std::string& size) : m_path(path)
    {
        m_mounted = ::mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
        if (!m_mounted) m_error = std::strerror(errno);
    }
    ~SmallDisk()
    {
        if (m_mounted) ::umount2(m_path.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return m_mounted; }
    const std::string& Error() const { return m_error; }
    // Remounts with a new size, keeping the files.
    bool Grow(const std::string& size)
    {
        return ::mount("tmpfs", m_path.c_str(), "tmpfs", MS_REMOUNT, ("size=" + size).c_str()) == 0;
    }

private:
    std::string m_path;
    bool m_mounted = false;
    std::string m_error;
};
