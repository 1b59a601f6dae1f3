// A directory of a test's own under /tmp, and the names in a directory.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quorbel::testing {

// The names in a directory, without . and .., in byte order.
inline std::vector<std::string> names_in(const std::string& path) {
  std::vector<std::string> found;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return {"(cannot be read)"};
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") found.push_back(name);
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

// Made empty; removed at the end with the files left in it. path() is empty
// when it could not be made.
class scratch_directory {
 public:
  scratch_directory() {
    char name[] = "/tmp/quorbel-test-XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
  }
  scratch_directory(const scratch_directory&) = delete;
  scratch_directory& operator=(const scratch_directory&) = delete;
  ~scratch_directory() {
    if (path_.empty()) return;
    for (const std::string& name : names()) unlink(at(name).c_str());
    rmdir(path_.c_str());
  }
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string at(const std::string& name) const { return path_ + "/" + name; }
  [[nodiscard]] std::vector<std::string> names() const { return names_in(path_); }

 private:
  std::string path_;
};

}  // namespace quorbel::testing
