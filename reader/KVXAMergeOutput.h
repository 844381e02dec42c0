// The file a merge writes. It is created under a temporary name in the folder of the output, so that the
// output path never holds a partial recording: Commit flushes it to the disk and renames it into place,
// Discard (or destruction without Commit) removes it.
#pragma once

#include <cstdio>
#include <string>

class CKVXAMergeOutput {
public:
    CKVXAMergeOutput() = default;
    ~CKVXAMergeOutput() { Discard(); }
    CKVXAMergeOutput(const CKVXAMergeOutput&) = delete;
    CKVXAMergeOutput& operator=(const CKVXAMergeOutput&) = delete;

    // Creates the temporary file beside `path`, open for reading and writing; false when it cannot be made.
    bool Create(const std::string& path);
    // The temporary file while it is open; null otherwise.
    FILE* File() const { return m_pFile; }
    const std::string& TemporaryPath() const { return m_szTempPath; }
    // Flushes, syncs and closes the file and renames it to the output path; false (file removed) when any
    // of these fails.
    bool Commit();
    // Closes and removes the temporary file, if any.
    void Discard();

    // True when `path` names the file that `open` is open on (same device and inode), whatever path or
    // link leads to it.
    static bool NamesOpenFile(const char* path, FILE* open);

private:
    std::string m_szPath;
    std::string m_szTempPath;
    FILE* m_pFile = nullptr;
};
