// libdbghelp.so: writes a Linux minidump of the calling process, in the
// Breakpad flavour of the minidump format that lldb and the Breakpad and
// Crashpad tools read:
//   - header and stream directory,
//   - system info (x86-64, Linux, kernel version and CPU),
//   - misc info (process id),
//   - thread list with every thread: the faulting one's registers from the
//     signal's ucontext, the others' read with ptrace while they are stopped;
//     each with its stack, from just below the stack pointer to the end of
//     the stack's mapping (at most 8 MiB),
//   - memory list holding those stacks (where lldb reads memory),
//   - exception (signal number, code, fault address, thread, registers),
//   - module list: each mapped ELF file with base, size and GNU build id,
//   - /proc/self/maps, status, cmdline and auxv as Linux streams.
// A thread cannot stop its own siblings, so the dump is written by a helper
// process cloned with its own stack that shares our memory and files (as
// Breakpad's and Crashpad's Linux writers do): it stops every other thread
// with ptrace, writes the dump and lets them go, while the faulting thread
// waits for it. Where ptrace is refused (Yama, a container's seccomp
// profile), the dump holds the faulting thread alone.
//
// Everything here is async-signal-safe: no heap, no stdio, no locks; the
// file is written with raw system calls from fixed buffers.

#include "crashdump/DbgHelp.h"

#include <cerrno>
#include <cpuid.h>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <elf.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#if !defined(__x86_64__)
#error "the dump writer knows the x86-64 register layout only"
#endif

namespace {

// ---- Minidump format -------------------------------------------------------

constexpr uint32_t kSignature = 0x504d444d; // "MDMP"
constexpr uint32_t kVersion = 0xa793;

enum StreamType : uint32_t {
    ThreadListStream = 3,
    ModuleListStream = 4,
    MemoryListStream = 5,
    ExceptionStream = 6,
    SystemInfoStream = 7,
    MiscInfoStream = 15,
    LinuxProcStatusStream = 0x47670004,
    LinuxCmdLineStream = 0x47670006,
    LinuxAuxvStream = 0x47670008,
    LinuxMapsStream = 0x47670009,
};

#pragma pack(push, 1)
struct Header {
    uint32_t Signature;
    uint32_t Version;
    uint32_t NumberOfStreams;
    uint32_t StreamDirectoryRva;
    uint32_t CheckSum;
    uint32_t TimeDateStamp;
    uint64_t Flags;
};
struct Location {
    uint32_t DataSize;
    uint32_t Rva;
};
struct Directory {
    uint32_t StreamType;
    ::Location Where;
};
struct MemoryDescriptor {
    uint64_t StartOfMemoryRange;
    ::Location Memory;
};
struct Thread {
    uint32_t ThreadId;
    uint32_t SuspendCount;
    uint32_t PriorityClass;
    uint32_t Priority;
    uint64_t Teb;
    MemoryDescriptor Stack;
    Location ThreadContext;
};
struct SystemInfo {
    uint16_t ProcessorArchitecture;
    uint16_t ProcessorLevel;
    uint16_t ProcessorRevision;
    uint8_t NumberOfProcessors;
    uint8_t ProductType;
    uint32_t MajorVersion;
    uint32_t MinorVersion;
    uint32_t BuildNumber;
    uint32_t PlatformId;
    uint32_t CSDVersionRva;
    uint16_t SuiteMask;
    uint16_t Reserved2;
    uint32_t VendorId[3];
    uint32_t VersionInformation;
    uint32_t FeatureInformation;
    uint32_t AMDExtendedCpuFeatures;
};
struct MiscInfo {
    uint32_t SizeOfInfo;
    uint32_t Flags1;
    uint32_t ProcessId;
    uint32_t ProcessCreateTime;
    uint32_t ProcessUserTime;
    uint32_t ProcessKernelTime;
};
struct ExceptionRecord {
    uint32_t ExceptionCode;
    uint32_t ExceptionFlags;
    uint64_t ExceptionRecord;
    uint64_t ExceptionAddress;
    uint32_t NumberParameters;
    uint32_t UnusedAlignment;
    uint64_t ExceptionInformation[15];
};
struct Exception {
    uint32_t ThreadId;
    uint32_t Alignment;
    ::ExceptionRecord Record;
    Location ThreadContext;
};
struct FixedFileInfo {
    uint32_t Fields[13];
};
struct Module {
    uint64_t BaseOfImage;
    uint32_t SizeOfImage;
    uint32_t CheckSum;
    uint32_t TimeDateStamp;
    uint32_t ModuleNameRva;
    FixedFileInfo VersionInfo;
    Location CvRecord;
    Location MiscRecord;
    uint64_t Reserved0;
    uint64_t Reserved1;
};
#pragma pack(pop)

// CONTEXT_AMD64, natural layout.
struct ContextAmd64 {
    uint64_t P1Home, P2Home, P3Home, P4Home, P5Home, P6Home;
    uint32_t ContextFlags;
    uint32_t MxCsr;
    uint16_t SegCs, SegDs, SegEs, SegFs, SegGs, SegSs;
    uint32_t EFlags;
    uint64_t Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
    uint64_t Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi;
    uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
    uint64_t Rip;
    uint8_t FltSave[512]; // FXSAVE image: x87, MXCSR, XMM0-15
    uint8_t VectorRegister[26][16];
    uint64_t VectorControl;
    uint64_t DebugControl;
    uint64_t LastBranchToRip;
    uint64_t LastBranchFromRip;
    uint64_t LastExceptionToRip;
    uint64_t LastExceptionFromRip;
};

static_assert(sizeof(Header) == 32);
static_assert(sizeof(Directory) == 12);
static_assert(sizeof(MemoryDescriptor) == 16);
static_assert(sizeof(Thread) == 48);
static_assert(sizeof(SystemInfo) == 56);
static_assert(sizeof(MiscInfo) == 24);
static_assert(sizeof(Exception) == 168);
static_assert(sizeof(Module) == 108);
static_assert(sizeof(ContextAmd64) == 1232);
static_assert(offsetof(ContextAmd64, ContextFlags) == 0x30);
static_assert(offsetof(ContextAmd64, Rax) == 0x78);
static_assert(offsetof(ContextAmd64, Rip) == 0xf8);
static_assert(offsetof(ContextAmd64, FltSave) == 0x100);

constexpr uint32_t kContextAmd64 = 0x00100000;
constexpr uint32_t kContextControl = kContextAmd64 | 0x1;
constexpr uint32_t kContextInteger = kContextAmd64 | 0x2;
constexpr uint32_t kContextSegments = kContextAmd64 | 0x4;
constexpr uint32_t kContextFloatingPoint = kContextAmd64 | 0x8;

constexpr uint16_t kProcessorArchitectureAmd64 = 9;
constexpr uint32_t kPlatformLinux = 0x8201;
constexpr uint32_t kCvSignatureElf = 0x4270454c; // "BpEL"
constexpr uint32_t kMiscProcessId = 0x1;

constexpr int kMaxStreams = 12;
constexpr uint64_t kMaxStackBytes = 8 * 1024 * 1024;
constexpr uint64_t kRedZone = 128;
constexpr int kMaxModules = 512;
constexpr int kMaxThreads = 512;

// ---- System calls ----------------------------------------------------------
// Raw calls, so no library wrapper (and no sanitizer interceptor) looks at
// the buffers: the thread's stack is written straight from memory.

long SysOpen(const char* path, int flags)
{
    return syscall(SYS_openat, AT_FDCWD, path, flags | O_CLOEXEC, 0);
}
long SysRead(int fd, void* buffer, size_t size)
{
    return syscall(SYS_read, fd, buffer, size);
}
long SysPread(int fd, void* buffer, size_t size, uint64_t offset)
{
    return syscall(SYS_pread64, fd, buffer, size, offset);
}
void SysClose(int fd)
{
    syscall(SYS_close, fd);
}

// "/proc/<pid>/<leaf>" of the dumped process: the helper that writes the
// dump is a process of its own, so "/proc/self" would name the helper.
char g_procDir[32];

void SetProcDir(pid_t pid)
{
    char digits[12];
    int n = 0;
    for (unsigned v = static_cast<unsigned>(pid); n == 0 || v != 0; v /= 10)
        digits[n++] = static_cast<char>('0' + v % 10);
    char* p = g_procDir;
    for (const char* c = "/proc/"; *c != '\0'; ++c)
        *p++ = *c;
    while (n > 0)
        *p++ = digits[--n];
    *p++ = '/';
    *p = '\0';
}

struct ProcPath {
    explicit ProcPath(const char* leaf)
    {
        size_t n = strlen(g_procDir);
        memcpy(text, g_procDir, n);
        size_t m = strlen(leaf);
        memcpy(text + n, leaf, m + 1);
    }
    char text[64];
};

// ---- Output file -------------------------------------------------------------

class DumpFile {
public:
    explicit DumpFile(int fd) : m_fd(fd) {}

    bool Ok() const { return m_ok; }
    uint32_t Position() const { return m_position; }

    bool WriteAt(uint64_t offset, const void* data, size_t size)
    {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            long n = syscall(SYS_pwrite64, m_fd, p, size, offset);
            if (n <= 0) {
                m_ok = false;
                return false;
            }
            p += n;
            size -= static_cast<size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }

    // Appends at the end, 8-byte aligned; returns where the data went.
    uint32_t Append(const void* data, size_t size)
    {
        Align();
        uint32_t rva = m_position;
        WriteAt(m_position, data, size);
        m_position += static_cast<uint32_t>(size);
        return rva;
    }

    // Reserves room to be filled with WriteAt later.
    uint32_t Reserve(size_t size)
    {
        Align();
        uint32_t rva = m_position;
        m_position += static_cast<uint32_t>(size);
        return rva;
    }

    void Align()
    {
        static const char zeros[8] = {};
        uint32_t pad = (8 - m_position % 8) % 8;
        if (pad != 0) {
            WriteAt(m_position, zeros, pad);
            m_position += pad;
        }
    }

    // Appends a MINIDUMP_STRING (byte length, then UTF-16 text, NUL) from
    // UTF-8 text.
    uint32_t AppendString(const char* utf8)
    {
        Align();
        uint32_t rva = m_position;
        uint32_t length = 0;
        WriteAt(m_position, &length, sizeof length); // patched below
        m_position += sizeof length;
        uint16_t chunk[256];
        size_t used = 0;
        const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8);
        while (*s != 0) {
            uint32_t cp = *s++;
            int more = 0;
            if (cp >= 0xf0 && cp < 0xf8) {
                cp &= 0x07;
                more = 3;
            } else if (cp >= 0xe0) {
                cp &= 0x0f;
                more = 2;
            } else if (cp >= 0xc0) {
                cp &= 0x1f;
                more = 1;
            } else if (cp >= 0x80) {
                cp = 0xfffd;
            }
            for (; more > 0 && (*s & 0xc0) == 0x80; --more)
                cp = (cp << 6) | (*s++ & 0x3f);
            if (more > 0 || cp > 0x10ffff)
                cp = 0xfffd;
            if (used + 2 > sizeof chunk / sizeof chunk[0]) {
                Flush(chunk, used, length);
                used = 0;
            }
            if (cp >= 0x10000) {
                cp -= 0x10000;
                chunk[used++] = static_cast<uint16_t>(0xd800 + (cp >> 10));
                chunk[used++] = static_cast<uint16_t>(0xdc00 + (cp & 0x3ff));
            } else {
                chunk[used++] = static_cast<uint16_t>(cp);
            }
        }
        Flush(chunk, used, length);
        const uint16_t terminator = 0;
        WriteAt(m_position, &terminator, sizeof terminator);
        m_position += sizeof terminator;
        WriteAt(rva, &length, sizeof length);
        return rva;
    }

    // Appends a whole file (a /proc one: its size is unknown until read).
    Location AppendFile(const char* path)
    {
        Location location{0, 0};
        int fd = static_cast<int>(SysOpen(path, O_RDONLY));
        if (fd < 0)
            return location;
        Align();
        location.Rva = m_position;
        char buffer[4096];
        for (;;) {
            long n = SysRead(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            WriteAt(m_position, buffer, static_cast<size_t>(n));
            m_position += static_cast<uint32_t>(n);
            location.DataSize += static_cast<uint32_t>(n);
        }
        SysClose(fd);
        return location;
    }

private:
    void Flush(const uint16_t* units, size_t count, uint32_t& length)
    {
        WriteAt(m_position, units, count * sizeof units[0]);
        m_position += static_cast<uint32_t>(count * sizeof units[0]);
        length += static_cast<uint32_t>(count * sizeof units[0]);
    }

    int m_fd;
    uint32_t m_position = 0;
    bool m_ok = true;
};

// ---- /proc/self/maps ---------------------------------------------------------

struct Mapping {
    uint64_t start;
    uint64_t end;
    uint64_t offset;
    uint64_t inode;
    bool readable;
    const char* path; // points into the reader's buffer; "" for anonymous
};

class MapsReader {
public:
    MapsReader() : m_fd(static_cast<int>(SysOpen(ProcPath("maps").text, O_RDONLY))) {}
    ~MapsReader()
    {
        if (m_fd >= 0)
            SysClose(m_fd);
    }
    MapsReader(const MapsReader&) = delete;
    MapsReader& operator=(const MapsReader&) = delete;

    // The next mapping, or false at the end. The path stays valid until the
    // next call.
    bool Next(Mapping& mapping)
    {
        char* line;
        while ((line = NextLine()) != nullptr) {
            if (Parse(line, mapping))
                return true;
        }
        return false;
    }

private:
    char* NextLine()
    {
        if (m_fd < 0)
            return nullptr;
        for (;;) {
            for (size_t i = m_begin; i < m_length; ++i) {
                if (m_buffer[i] == '\n') {
                    m_buffer[i] = '\0';
                    char* line = m_buffer + m_begin;
                    m_begin = i + 1;
                    return line;
                }
            }
            if (m_begin > 0) {
                memmove(m_buffer, m_buffer + m_begin, m_length - m_begin);
                m_length -= m_begin;
                m_begin = 0;
            }
            if (m_length == sizeof m_buffer - 1) {
                // A line longer than any path: hand it out cut.
                m_buffer[m_length] = '\0';
                m_begin = m_length = 0;
                return m_buffer;
            }
            long n = m_eof ? 0 : SysRead(m_fd, m_buffer + m_length, sizeof m_buffer - 1 - m_length);
            if (n <= 0) {
                m_eof = true;
                if (m_length == 0)
                    return nullptr;
                m_buffer[m_length] = '\0';
                m_begin = m_length = 0;
                return m_buffer;
            }
            m_length += static_cast<size_t>(n);
        }
    }

    static bool ParseHex(const char*& p, uint64_t& value)
    {
        value = 0;
        const char* start = p;
        for (;; ++p) {
            char c = *p;
            if (c >= '0' && c <= '9')
                value = value * 16 + static_cast<uint64_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value = value * 16 + static_cast<uint64_t>(c - 'a' + 10);
            else
                break;
        }
        return p != start;
    }

    static bool ParseDecimal(const char*& p, uint64_t& value)
    {
        value = 0;
        const char* start = p;
        for (; *p >= '0' && *p <= '9'; ++p)
            value = value * 10 + static_cast<uint64_t>(*p - '0');
        return p != start;
    }

    static bool Skip(const char*& p, char c)
    {
        if (*p != c)
            return false;
        ++p;
        return true;
    }

    // "start-end perms offset major:minor inode   path"
    static bool Parse(const char* p, Mapping& mapping)
    {
        uint64_t ignored;
        if (!ParseHex(p, mapping.start) || !Skip(p, '-') || !ParseHex(p, mapping.end) || !Skip(p, ' '))
            return false;
        mapping.readable = *p == 'r';
        for (int i = 0; i < 4; ++i) {
            if (*p++ == '\0')
                return false;
        }
        if (!Skip(p, ' ') || !ParseHex(p, mapping.offset) || !Skip(p, ' ') || !ParseHex(p, ignored)
            || !Skip(p, ':') || !ParseHex(p, ignored) || !Skip(p, ' ') || !ParseDecimal(p, mapping.inode))
            return false;
        while (*p == ' ')
            ++p;
        mapping.path = p;
        return mapping.end > mapping.start;
    }

    int m_fd;
    char m_buffer[8192];
    size_t m_begin = 0;
    size_t m_length = 0;
    bool m_eof = false;
};

// ---- ELF build id ------------------------------------------------------------

// Reads the GNU build id of an ELF file into id; returns its length, 0 when
// it has none, or -1 when the file is not a 64-bit ELF file.
int ReadBuildId(const char* path, uint8_t* id, int capacity)
{
    int fd = static_cast<int>(SysOpen(path, O_RDONLY));
    if (fd < 0)
        return -1;
    int result = -1;
    Elf64_Ehdr header;
    if (SysPread(fd, &header, sizeof header, 0) == static_cast<long>(sizeof header)
        && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64
        && header.e_phentsize == sizeof(Elf64_Phdr)) {
        result = 0;
        for (int i = 0; i < header.e_phnum && result == 0; ++i) {
            Elf64_Phdr phdr;
            if (SysPread(fd, &phdr, sizeof phdr, header.e_phoff + i * sizeof phdr) != static_cast<long>(sizeof phdr))
                break;
            if (phdr.p_type != PT_NOTE)
                continue;
            alignas(8) uint8_t notes[4096];
            size_t size = phdr.p_filesz < sizeof notes ? phdr.p_filesz : sizeof notes;
            long n = SysPread(fd, notes, size, phdr.p_offset);
            if (n <= 0)
                continue;
            size_t pos = 0;
            const size_t align = phdr.p_align == 8 ? 8 : 4;
            while (pos + sizeof(Elf64_Nhdr) <= static_cast<size_t>(n)) {
                Elf64_Nhdr note;
                memcpy(&note, notes + pos, sizeof note);
                size_t nameAt = pos + sizeof note;
                size_t descAt = nameAt + ((note.n_namesz + align - 1) & ~(align - 1));
                size_t next = descAt + ((note.n_descsz + align - 1) & ~(align - 1));
                if (descAt + note.n_descsz > static_cast<size_t>(n))
                    break;
                if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4
                    && memcmp(notes + nameAt, "GNU", 4) == 0 && note.n_descsz > 0) {
                    int length = note.n_descsz < static_cast<uint32_t>(capacity) ? static_cast<int>(note.n_descsz) : capacity;
                    memcpy(id, notes + descAt, static_cast<size_t>(length));
                    result = length;
                    break;
                }
                pos = next;
            }
        }
    }
    SysClose(fd);
    return result;
}

// ---- Streams -----------------------------------------------------------------

class StreamDirectory {
public:
    void Add(uint32_t type, Location location)
    {
        if (m_count < kMaxStreams)
            m_entries[m_count++] = Directory{type, location};
    }
    int Count() const { return m_count; }
    const Directory* Entries() const { return m_entries; }

private:
    Directory m_entries[kMaxStreams] = {};
    int m_count = 0;
};

void WriteSystemInfo(DumpFile& file, StreamDirectory& directory)
{
    SystemInfo info{};
    info.ProcessorArchitecture = kProcessorArchitectureAmd64;
    info.PlatformId = kPlatformLinux;

    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        info.VendorId[0] = ebx;
        info.VendorId[1] = edx;
        info.VendorId[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        unsigned family = (eax >> 8) & 0xf;
        unsigned model = (eax >> 4) & 0xf;
        if (family == 0xf)
            family += (eax >> 20) & 0xff;
        if (family == 0x6 || family >= 0xf)
            model += ((eax >> 16) & 0xf) << 4;
        info.ProcessorLevel = static_cast<uint16_t>(family);
        info.ProcessorRevision = static_cast<uint16_t>((model << 8) | (eax & 0xf));
        info.VersionInformation = eax;
        info.FeatureInformation = edx;
    }
    if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx))
        info.AMDExtendedCpuFeatures = edx;

    unsigned long cpus[16] = {};
    long n = syscall(SYS_sched_getaffinity, 0, sizeof cpus, cpus);
    unsigned count = 0;
    for (long i = 0; i < n / static_cast<long>(sizeof cpus[0]); ++i)
        count += static_cast<unsigned>(__builtin_popcountl(cpus[i]));
    info.NumberOfProcessors = static_cast<uint8_t>(count > 255 ? 255 : count);

    // Kernel version from uname: "6.1.0-18-amd64" -> 6, 1, 0. The service-
    // pack string carries the whole uname line, as Breakpad writes it.
    struct utsname name;
    char csd[4 * sizeof name.release];
    csd[0] = '\0';
    if (syscall(SYS_uname, &name) == 0) {
        uint32_t parts[3] = {0, 0, 0};
        const char* p = name.release;
        for (int i = 0; i < 3; ++i) {
            while (*p >= '0' && *p <= '9')
                parts[i] = parts[i] * 10 + static_cast<uint32_t>(*p++ - '0');
            if (*p != '.')
                break;
            ++p;
        }
        info.MajorVersion = parts[0];
        info.MinorVersion = parts[1];
        info.BuildNumber = parts[2];
        size_t used = 0;
        const char* pieces[] = {name.sysname, name.release, name.version, name.machine};
        for (const char* piece : pieces) {
            for (size_t i = 0; piece[i] != '\0' && i < sizeof name.release && used + 2 < sizeof csd; ++i)
                csd[used++] = piece[i];
            if (used + 2 < sizeof csd)
                csd[used++] = ' ';
        }
        if (used > 0)
            --used;
        csd[used] = '\0';
    }
    uint32_t rva = file.Reserve(sizeof info);
    info.CSDVersionRva = file.AppendString(csd);
    file.WriteAt(rva, &info, sizeof info);
    directory.Add(SystemInfoStream, Location{sizeof info, rva});
}

void WriteMiscInfo(DumpFile& file, StreamDirectory& directory, pid_t processId)
{
    MiscInfo info{};
    info.SizeOfInfo = sizeof info;
    info.Flags1 = kMiscProcessId;
    info.ProcessId = static_cast<uint32_t>(processId);
    directory.Add(MiscInfoStream, Location{sizeof info, file.Append(&info, sizeof info)});
}

// The general registers in the order both sources share: the signal's
// ucontext (gregs, indexed by REG_*) and ptrace's user_regs_struct.
struct GeneralRegisters {
    uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
    uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    uint64_t rip, eflags;
    uint16_t cs, ss, fs, gs, ds, es;
};

void FillContext(ContextAmd64& context, const GeneralRegisters& r, const void* fxsave)
{
    memset(&context, 0, sizeof context);
    context.ContextFlags = kContextControl | kContextInteger | kContextSegments;
    context.Rax = r.rax;
    context.Rcx = r.rcx;
    context.Rdx = r.rdx;
    context.Rbx = r.rbx;
    context.Rsp = r.rsp;
    context.Rbp = r.rbp;
    context.Rsi = r.rsi;
    context.Rdi = r.rdi;
    context.R8 = r.r8;
    context.R9 = r.r9;
    context.R10 = r.r10;
    context.R11 = r.r11;
    context.R12 = r.r12;
    context.R13 = r.r13;
    context.R14 = r.r14;
    context.R15 = r.r15;
    context.Rip = r.rip;
    context.EFlags = static_cast<uint32_t>(r.eflags);
    context.SegCs = r.cs;
    context.SegSs = r.ss;
    context.SegFs = r.fs;
    context.SegGs = r.gs;
    context.SegDs = r.ds;
    context.SegEs = r.es;
    if (fxsave != nullptr) {
        memcpy(context.FltSave, fxsave, sizeof context.FltSave);
        memcpy(&context.MxCsr, context.FltSave + 24, sizeof context.MxCsr); // FXSAVE's MXCSR
        context.ContextFlags |= kContextFloatingPoint;
    }
}

// The faulting thread, from the signal's ucontext.
void FillContext(ContextAmd64& context, const ucontext_t* uc)
{
    const greg_t* g = uc->uc_mcontext.gregs;
    auto u = [g](int i) { return static_cast<uint64_t>(g[i]); };
    // cs, gs, fs and (on newer kernels) ss, 16 bits each.
    const uint64_t csgsfs = u(REG_CSGSFS);
    GeneralRegisters r{u(REG_RAX), u(REG_RCX), u(REG_RDX), u(REG_RBX), u(REG_RSP), u(REG_RBP),
                       u(REG_RSI), u(REG_RDI), u(REG_R8), u(REG_R9), u(REG_R10), u(REG_R11),
                       u(REG_R12), u(REG_R13), u(REG_R14), u(REG_R15), u(REG_RIP), u(REG_EFL),
                       static_cast<uint16_t>(csgsfs), static_cast<uint16_t>(csgsfs >> 48),
                       static_cast<uint16_t>(csgsfs >> 32), static_cast<uint16_t>(csgsfs >> 16), 0, 0};
    static_assert(sizeof(*uc->uc_mcontext.fpregs) == sizeof(ContextAmd64::FltSave));
    FillContext(context, r, uc->uc_mcontext.fpregs);
}

// A sibling thread stopped under ptrace; false when its registers cannot be
// read.
bool FillContext(ContextAmd64& context, pid_t tid)
{
    user_regs_struct g;
    if (syscall(SYS_ptrace, PTRACE_GETREGS, tid, nullptr, &g) != 0)
        return false;
    user_fpregs_struct fp;
    const bool haveFp = syscall(SYS_ptrace, PTRACE_GETFPREGS, tid, nullptr, &fp) == 0;
    static_assert(sizeof fp == sizeof(ContextAmd64::FltSave));
    auto s = [](unsigned long long v) { return static_cast<uint16_t>(v); };
    GeneralRegisters r{g.rax, g.rcx, g.rdx, g.rbx, g.rsp, g.rbp, g.rsi, g.rdi, g.r8, g.r9, g.r10,
                       g.r11, g.r12, g.r13, g.r14, g.r15, g.rip, g.eflags,
                       s(g.cs), s(g.ss), s(g.fs), s(g.gs), s(g.ds), s(g.es)};
    FillContext(context, r, haveFp ? &fp : nullptr);
    return true;
}

// The stack range to save: from just below the stack pointer (the red zone)
// to the end of its mapping, at most kMaxStackBytes. After a stack overflow
// the stack pointer lies in the unmapped gap below the stack; then the range
// still starts there, and `gap` bytes up to the mapping are saved as zeros,
// so a debugger finds the innermost frame's return address above them.
struct StackSpan {
    MemoryDescriptor range;
    uint64_t gap;
};

StackSpan StackRange(uint64_t sp)
{
    constexpr uint64_t kOverflowReach = 64 * 1024;
    StackSpan span{{0, {0, 0}}, 0};
    const uint64_t start = (sp >= kRedZone ? sp - kRedZone : 0) & ~uint64_t{15};
    MapsReader maps;
    Mapping mapping;
    while (maps.Next(mapping)) {
        if (mapping.end <= start)
            continue;
        if (!mapping.readable || mapping.start > sp + kOverflowReach)
            break;
        uint64_t from = start > mapping.start ? start : mapping.start;
        uint64_t gap = from - start;
        uint64_t end = mapping.end - from > kMaxStackBytes ? from + kMaxStackBytes : mapping.end;
        span.range.StartOfMemoryRange = start;
        span.range.Memory.DataSize = static_cast<uint32_t>(gap + (end - from));
        span.gap = gap;
        break;
    }
    return span;
}

// Appends a thread's stack, found from its stack pointer; an empty
// descriptor when it cannot be read.
MemoryDescriptor WriteStack(DumpFile& file, uint64_t sp)
{
    StackSpan span = StackRange(sp);
    MemoryDescriptor stack = span.range;
    if (stack.Memory.DataSize == 0)
        return stack;
    uint32_t rva = file.Reserve(stack.Memory.DataSize);
    static const char zeros[4096] = {};
    bool ok = true;
    for (uint64_t done = 0; done < span.gap && ok;) {
        uint64_t n = span.gap - done < sizeof zeros ? span.gap - done : sizeof zeros;
        ok = file.WriteAt(rva + done, zeros, n);
        done += n;
    }
    // Written straight from memory (shared with the dumped process); the
    // kernel reports an unreadable page as an error instead of faulting.
    if (ok)
        ok = file.WriteAt(rva + span.gap, reinterpret_cast<const void*>(stack.StartOfMemoryRange + span.gap),
                          stack.Memory.DataSize - span.gap);
    if (!ok)
        stack.Memory.DataSize = 0;
    stack.Memory.Rva = rva;
    return stack;
}

// The thread list (faulting thread first, then the stopped siblings), the
// memory list of their stacks, and the exception stream. One dump at a time,
// so the lists can live in static storage rather than on the helper's stack.
Thread g_threads[kMaxThreads + 1];
MemoryDescriptor g_stacks[kMaxThreads + 1];

void WriteThreadsAndException(DumpFile& file, StreamDirectory& directory, pid_t threadId,
                              const EXCEPTION_POINTERS* pointers, const pid_t* siblings, int siblingCount)
{
    uint32_t threadCount = 0;
    uint32_t stackCount = 0;
    for (int i = -1; i < siblingCount; ++i) {
        Thread thread{};
        thread.ThreadId = static_cast<uint32_t>(i < 0 ? threadId : siblings[i]);
        ContextAmd64 context;
        if (i < 0) {
            if (pointers == nullptr || pointers->Context == nullptr)
                continue;
            FillContext(context, pointers->Context);
        } else if (!FillContext(context, siblings[i])) {
            continue;
        }
        thread.ThreadContext = Location{sizeof context, file.Append(&context, sizeof context)};
        thread.Stack = WriteStack(file, context.Rsp);
        if (thread.Stack.Memory.DataSize != 0)
            g_stacks[stackCount++] = thread.Stack;
        g_threads[threadCount++] = thread;
    }
    const uint32_t threadListSize = static_cast<uint32_t>(sizeof threadCount + threadCount * sizeof(Thread));
    uint32_t rva = file.Reserve(threadListSize);
    file.WriteAt(rva, &threadCount, sizeof threadCount);
    file.WriteAt(rva + sizeof threadCount, g_threads, threadCount * sizeof(Thread));
    directory.Add(ThreadListStream, Location{threadListSize, rva});
    const uint32_t memoryListSize = static_cast<uint32_t>(sizeof stackCount + stackCount * sizeof(MemoryDescriptor));
    rva = file.Reserve(memoryListSize);
    file.WriteAt(rva, &stackCount, sizeof stackCount);
    file.WriteAt(rva + sizeof stackCount, g_stacks, stackCount * sizeof(MemoryDescriptor));
    directory.Add(MemoryListStream, Location{memoryListSize, rva});

    if (pointers != nullptr) {
        Exception exception{};
        exception.ThreadId = static_cast<uint32_t>(threadId);
        exception.Record.ExceptionCode = static_cast<uint32_t>(pointers->Signal);
        const siginfo_t* info = pointers->SignalInfo;
        if (info != nullptr) {
            exception.Record.ExceptionFlags = static_cast<uint32_t>(info->si_code);
            // A fault raised by the kernel has an address; a sent signal
            // (abort) has none.
            if (info->si_code > 0)
                exception.Record.ExceptionAddress = reinterpret_cast<uint64_t>(info->si_addr);
        }
        exception.ThreadContext = threadCount > 0 && g_threads[0].ThreadId == static_cast<uint32_t>(threadId)
                                      ? g_threads[0].ThreadContext : Location{0, 0};
        directory.Add(ExceptionStream, Location{sizeof exception, file.Append(&exception, sizeof exception)});
    }
}

struct ModuleEntry {
    uint64_t base;
    uint64_t end;
    uint32_t nameRva;
    Location cv;
};

// One module per mapped ELF file: from its mapping at file offset 0 to the
// end of its last mapping.
void WriteModuleList(DumpFile& file, StreamDirectory& directory)
{
    ModuleEntry modules[kMaxModules];
    int count = 0;

    char path[4096];
    path[0] = '\0';
    uint64_t inode = 0;
    ModuleEntry current{0, 0, 0, {0, 0}};
    bool open = false;

    auto finish = [&]() {
        if (!open)
            return;
        open = false;
        if (count >= kMaxModules)
            return;
        uint8_t cv[4 + 64];
        uint32_t signature = kCvSignatureElf;
        memcpy(cv, &signature, sizeof signature);
        int idLength = ReadBuildId(path, cv + 4, 64);
        if (idLength < 0)
            return; // not an ELF file (a font, a locale archive...)
        current.nameRva = file.AppendString(path);
        current.cv = idLength > 0 ? Location{static_cast<uint32_t>(4 + idLength), file.Append(cv, 4 + static_cast<size_t>(idLength))}
                                  : Location{0, 0};
        modules[count++] = current;
    };

    MapsReader maps;
    Mapping mapping;
    while (maps.Next(mapping)) {
        if (mapping.path[0] != '/')
            continue; // anonymous, [stack], [vdso], ...
        if (open && mapping.inode == inode && strcmp(mapping.path, path) == 0 && mapping.start >= current.base) {
            current.end = mapping.end;
            continue;
        }
        finish();
        if (mapping.offset != 0)
            continue;
        size_t length = strlen(mapping.path);
        if (length >= sizeof path)
            continue;
        memcpy(path, mapping.path, length + 1);
        inode = mapping.inode;
        current = ModuleEntry{mapping.start, mapping.end, 0, {0, 0}};
        open = true;
    }
    finish();

    uint32_t total = static_cast<uint32_t>(count);
    uint32_t rva = file.Reserve(sizeof total + static_cast<size_t>(count) * sizeof(Module));
    file.WriteAt(rva, &total, sizeof total);
    for (int i = 0; i < count; ++i) {
        Module module{};
        module.BaseOfImage = modules[i].base;
        uint64_t size = modules[i].end - modules[i].base;
        module.SizeOfImage = size > 0xffffffffu ? 0xffffffffu : static_cast<uint32_t>(size);
        module.ModuleNameRva = modules[i].nameRva;
        module.CvRecord = modules[i].cv;
        file.WriteAt(rva + sizeof total + static_cast<uint32_t>(i) * sizeof module, &module, sizeof module);
    }
    directory.Add(ModuleListStream, Location{static_cast<uint32_t>(sizeof total + static_cast<size_t>(count) * sizeof(Module)), rva});
}

void WriteProcFile(DumpFile& file, StreamDirectory& directory, uint32_t type, const char* path)
{
    Location location = file.AppendFile(path);
    if (location.Rva != 0)
        directory.Add(type, location);
}

// ---- Stopping the other threads -------------------------------------------------

// What the faulting thread hands the helper (one dump at a time).
struct DumpJob {
    pid_t processId;
    int file;
    const MINIDUMP_EXCEPTION_INFORMATION* exception;
    int gate; // read end of a pipe: one byte once the helper may trace us
    int result;
};
DumpJob g_job;
pid_t g_siblings[kMaxThreads];
alignas(16) char g_helperStack[256 * 1024];

int WriteDump(const DumpJob& job, const pid_t* siblings, int siblingCount)
{
    if (job.file < 0)
        return 0;
    DumpFile file(job.file);
    StreamDirectory directory;
    // Header and directory first, filled in at the end.
    file.Reserve(sizeof(Header) + kMaxStreams * sizeof(Directory));

    WriteSystemInfo(file, directory);
    WriteMiscInfo(file, directory, job.processId);
    WriteThreadsAndException(file, directory, job.exception != nullptr ? job.exception->ThreadId : 0,
                             job.exception != nullptr ? job.exception->ExceptionPointers : nullptr,
                             siblings, siblingCount);
    WriteModuleList(file, directory);
    WriteProcFile(file, directory, LinuxMapsStream, ProcPath("maps").text);
    WriteProcFile(file, directory, LinuxProcStatusStream, ProcPath("status").text);
    WriteProcFile(file, directory, LinuxCmdLineStream, ProcPath("cmdline").text);
    WriteProcFile(file, directory, LinuxAuxvStream, ProcPath("auxv").text);

    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    Header header{};
    header.Signature = kSignature;
    header.Version = kVersion;
    header.NumberOfStreams = static_cast<uint32_t>(directory.Count());
    header.StreamDirectoryRva = sizeof header;
    header.TimeDateStamp = static_cast<uint32_t>(now.tv_sec);
    file.WriteAt(0, &header, sizeof header);
    file.WriteAt(sizeof header, directory.Entries(), static_cast<size_t>(directory.Count()) * sizeof(Directory));
    return file.Ok() ? 1 : 0;
}

long Ptrace(long request, pid_t tid)
{
    return syscall(SYS_ptrace, request, tid, nullptr, nullptr);
}

// Waits, at most about two seconds, until the thread we interrupted stops.
bool WaitForStop(pid_t tid)
{
    for (int i = 0; i < 2000; ++i) {
        int status = 0;
        long r = syscall(SYS_wait4, tid, &status, __WALL | WNOHANG, nullptr);
        if (r == tid)
            return WIFSTOPPED(status);
        if (r < 0)
            return false;
        timespec pause{0, 1000 * 1000};
        syscall(SYS_nanosleep, &pause, nullptr);
    }
    return false;
}

// Stops every thread of the dumped process but the faulting one, from
// /proc/<pid>/task; returns how many are stopped, in g_siblings. A thread
// that refuses (ptrace not allowed, already traced) is left out.
int StopSiblings(pid_t faulting)
{
    int fd = static_cast<int>(SysOpen(ProcPath("task").text, O_RDONLY | O_DIRECTORY));
    if (fd < 0)
        return 0;
    int count = 0;
    alignas(8) char entries[4096];
    long n;
    while ((n = syscall(SYS_getdents64, fd, entries, sizeof entries)) > 0) {
        for (long pos = 0; pos < n;) {
            // struct linux_dirent64: inode, offset, record length, type, name.
            uint16_t length;
            memcpy(&length, entries + pos + 16, sizeof length);
            const char* name = entries + pos + 19;
            pos += length;
            pid_t tid = 0;
            for (const char* c = name; *c >= '0' && *c <= '9'; ++c)
                tid = tid * 10 + (*c - '0');
            if (tid <= 0 || tid == faulting || count == kMaxThreads)
                continue;
            if (Ptrace(PTRACE_SEIZE, tid) != 0)
                continue;
            if (Ptrace(PTRACE_INTERRUPT, tid) == 0 && WaitForStop(tid))
                g_siblings[count++] = tid;
            else
                Ptrace(PTRACE_DETACH, tid); // or the helper's exit lets it go
        }
    }
    SysClose(fd);
    return count;
}

int HelperMain(void*)
{
    char go;
    while (SysRead(g_job.gate, &go, 1) < 0) {
    }
    const int count = StopSiblings(g_job.exception != nullptr ? g_job.exception->ThreadId : 0);
    g_job.result = WriteDump(g_job, g_siblings, count);
    for (int i = 0; i < count; ++i)
        Ptrace(PTRACE_DETACH, g_siblings[i]);
    return 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
MiniDumpWriteDump(pid_t ProcessId, int hFile, MINIDUMP_TYPE /*DumpType*/,
                  const MINIDUMP_EXCEPTION_INFORMATION* ExceptionParam,
                  const MINIDUMP_USER_STREAM_INFORMATION* /*UserStreamParam*/,
                  const MINIDUMP_CALLBACK_INFORMATION* /*CallbackParam*/)
{
    SetProcDir(ProcessId);
    g_job = DumpJob{ProcessId, hFile, ExceptionParam, -1, 0};
    int gate[2];
    if (hFile >= 0 && syscall(SYS_pipe2, gate, O_CLOEXEC) == 0) {
        g_job.gate = gate[0];
        // Shares memory, files and folder with us, has a stack of its own,
        // and sends no signal when it ends (the program's SIGCHLD handling
        // never sees it).
        const pid_t helper = clone(HelperMain, g_helperStack + sizeof g_helperStack,
                                   CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_UNTRACED, nullptr);
        if (helper > 0) {
            // Under Yama's ptrace_scope 1 only an ancestor may trace us,
            // unless we name the tracer.
            if (syscall(SYS_prctl, PR_SET_PTRACER, helper, 0, 0, 0) != 0)
                syscall(SYS_prctl, PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
            const char go = 1;
            syscall(SYS_write, gate[1], &go, 1);
            int status = 0;
            // The helper shares our errno (it has no thread-local storage of
            // its own), so wait until it is reaped, or gone, without reading it.
            while (syscall(SYS_wait4, helper, &status, __WALL, nullptr) != helper &&
                   syscall(SYS_kill, helper, 0) == 0) {
            }
            syscall(SYS_prctl, PR_SET_PTRACER, 0, 0, 0, 0);
            SysClose(gate[0]);
            SysClose(gate[1]);
            return g_job.result;
        }
        SysClose(gate[0]);
        SysClose(gate[1]);
    }
    // No helper: the faulting thread alone.
    return WriteDump(g_job, nullptr, 0);
}
