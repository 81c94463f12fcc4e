#pragma once
// A Linux program of this machine (nginx, tinyproxy, an archiver) started from a program running under Wine.
//
// Wine starts a Unix program for CreateProcess but hands back no process handle (nor passes it handles), so a
// small shell keeper stands between: it starts the program, writes its process id to a file, and kills the
// program by that id as soon as a lease file is gone. This object holds the lease open with delete-on-close, so
// the program stops when the object goes, and also when this process dies without a word (Wine closes its
// handles then). The keeper writes the program's exit code to a second file when it ends.
//
// Everything the keeper writes (the id, the exit code, the program's output) stays in the folder given to
// Start, under the name given there.

#include "platform/CUniqueHandle.h"
#include "platform/Win.h"

#include <chrono>
#include <string>
#include <vector>

// The Unix path of a Windows path under Wine, empty when it has none (or this is not Wine).
std::wstring UnixPathOf(const std::wstring& windowsPath);

// Whether a Linux program is there, by its Unix path ("/usr/sbin/nginx").
bool IsUnixProgram(const std::wstring& unixPath);

class CUnixProcess
{
public:
    CUnixProcess() = default;
    ~CUnixProcess() { static_cast<void>(Stop()); }
    CUnixProcess(const CUnixProcess&) = delete;
    CUnixProcess& operator=(const CUnixProcess&) = delete;

    // arguments: the program's Unix path first. folder (a Windows path, existing) keeps name.lease, name.pid,
    // name.exit and name.log (its standard output and error). False with a reason when the program is not there
    // or did not start; a started program is running (or has already ended, see HasEnded) when this returns.
    bool Start(const std::vector<std::wstring>& arguments, const std::wstring& folder, const std::wstring& name,
               std::wstring& reason);

    // The program's Unix process id; 0 before a successful Start and after Stop.
    unsigned long Pid() const { return m_pid; }
    // Whether a Linux process of that id is there.
    bool IsRunning() const;
    // Whether the program has ended; exitCode then holds its exit status (128 + signal when killed).
    bool HasEnded(int& exitCode) const;
    // Waits for the end; false after timeout.
    bool WaitForEnd(std::chrono::milliseconds timeout, int& exitCode) const;
    // Its output so far.
    std::string Output() const;

    // Stops the program by its process id and waits for it to go. True when no program of this object runs
    // (any more): the test support checks this, so that no server outlives its test.
    bool Stop();

    // Runs a program to its end (at most timeout) and gives its exit code (-1 when it did not start or did not
    // end in time) and its output.
    static int Run(const std::vector<std::wstring>& arguments, const std::wstring& folder,
                   const std::wstring& name, std::chrono::milliseconds timeout, std::string& output);

private:
    CFileHandle m_lease; // the keeper's watcher ends the program once the file is gone
    unsigned long m_pid = 0;
    std::wstring m_pidFile;
    std::wstring m_exitFile;
    std::wstring m_logFile;
};

// A Linux server program with a working folder of its own under the build tree ("servers"), for its
// configuration and logs. Stopped by its process id, and the folder removed, when the object goes.
class CUnixServer
{
public:
    CUnixServer() = default;
    ~CUnixServer() { static_cast<void>(Stop()); }
    CUnixServer(const CUnixServer&) = delete;
    CUnixServer& operator=(const CUnixServer&) = delete;

    // Makes the working folder (name and a number of this process); false with a reason.
    bool MakeFolder(const std::wstring& name, std::wstring& reason);
    // The working folder: Windows path with a trailing backslash, and the same as a Unix path with "/".
    const std::wstring& Folder() const { return m_folder; }
    std::wstring UnixFolder() const;
    // A file of the working folder, empty when missing.
    std::string ReadText(const std::wstring& name) const;

    // Starts the program (arguments, its Unix path first) and waits until it listens on every port of address.
    // package: the Debian package with the program, named in the reason when it is missing.
    bool Launch(const std::vector<std::wstring>& arguments, const std::wstring& package, const std::string& address,
                const std::vector<unsigned short>& ports, std::wstring& reason);

    // True when the program is gone (or never ran); the folder goes with it.
    bool Stop();

private:
    CUnixProcess m_process;
    std::wstring m_folder;
};

// The build tree's folder (with a trailing backslash) that this program's folder ("bin") sits in.
std::wstring BuildTreeFolder();
