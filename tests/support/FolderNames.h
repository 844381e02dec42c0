// The names in a folder, for tests that check what a file operation left behind.
#pragma once

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

namespace kvdtest {

// Every name in `folder` but "." and "..", hidden ones included, sorted.
inline std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace kvdtest
