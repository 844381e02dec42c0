#include "reader/KVXAMergeOutput.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool CKVXAMergeOutput::Create(const std::string& path)
{
    Discard();
    if (path.empty()) return false;
    // A directory cannot become the output, and a trailing slash names no file in a folder.
    struct stat st;
    if (path.back() == '/' || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return false;
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + name + ".merging-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) return false;
    // mkstemp creates the file for its owner only; the output gets the permissions of a new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    m_szTempPath = buffer.data();
    m_pFile = fdopen(fd, "w+b");
    if (!m_pFile) {
        close(fd);
        unlink(m_szTempPath.c_str());
        m_szTempPath.clear();
        return false;
    }
    m_szPath = path;
    return true;
}

bool CKVXAMergeOutput::Commit()
{
    if (!m_pFile) return false;
    bool ok = std::fflush(m_pFile) == 0 && !std::ferror(m_pFile);
    // The data must be on the disk before the name points at it, or a crash could leave a truncated output.
    while (ok && fsync(fileno(m_pFile)) != 0) {
        if (errno != EINTR) ok = false;
    }
    ok = std::fclose(m_pFile) == 0 && ok;
    m_pFile = nullptr;
    if (ok && std::rename(m_szTempPath.c_str(), m_szPath.c_str()) == 0) {
        m_szTempPath.clear();
        // The new name itself is made durable with the folder; a failure here loses nothing written.
        const std::size_t slash = m_szPath.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : m_szPath.substr(0, slash + 1);
        const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
        return true;
    }
    unlink(m_szTempPath.c_str());
    m_szTempPath.clear();
    return false;
}

void CKVXAMergeOutput::Discard()
{
    if (m_pFile) std::fclose(m_pFile);
    m_pFile = nullptr;
    if (!m_szTempPath.empty()) unlink(m_szTempPath.c_str());
    m_szTempPath.clear();
}

bool CKVXAMergeOutput::NamesOpenFile(const char* path, FILE* open)
{
    if (!path || !open) return false;
    struct stat named, opened;
    if (stat(path, &named) != 0 || fstat(fileno(open), &opened) != 0) return false;
    return named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}
