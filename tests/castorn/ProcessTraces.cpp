#include "ProcessTraces.h"

#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace castorn_test {

std::vector<std::string> ThreadNames()
{
    std::vector<std::string> names;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* task = tasks ? readdir(tasks) : nullptr) {
        if (task->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + task->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    if (tasks) closedir(tasks);
    return names;
}

bool NoEngineThread()
{
    const auto names = ThreadNames();
    return std::none_of(names.begin(), names.end(),
                        [](const std::string& name) { return name.starts_with("castorn-"); });
}

int OpenDescriptors()
{
    const std::filesystem::directory_iterator descriptors("/proc/self/fd");
    return static_cast<int>(std::distance(begin(descriptors), end(descriptors)));
}

int ConnectionsTo(int port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        const auto remotePort = std::stoi(remote.substr(remote.find(':') + 1), nullptr, 16);
        count += remotePort == port && inode != "0" ? 1 : 0;
    }
    return count;
}

}  // namespace castorn_test
