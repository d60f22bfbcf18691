// Helpers shared by the test suites.
#pragma once

#include <string>

namespace qortest {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command line and returns its standard output; `status`
// receives the exit status (-1 when it could not run).
std::string runCommand(const std::string& command, int* status = nullptr);

// The path of a file under tests/data.
std::string dataPath(const std::string& name);

}  // namespace qortest
