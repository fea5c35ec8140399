// A scratch folder for one benchmark run under the system's temporary folder, removed at the end.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace vez::bench {

class BenchFolder {
public:
  BenchFolder() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("vez-bench-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Dir() const { return path_.string() + "/"; }

private:
  std::filesystem::path path_;
};

}  // namespace vez::bench
