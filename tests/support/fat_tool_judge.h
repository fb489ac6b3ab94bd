// Standard FAT tools as judges of the volumes the library lays out:
// fsck.fat (dosfstools) checks a volume read-only, mtools writes and reads a
// file on it.  Tests skip when the tools are not installed.  Every test that
// has fsck.fat or mtools judge a volume goes through here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace orvik::testing {

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output and error together
};

inline ToolRun RunTool(const std::string& command) {
  ToolRun run;
#ifdef _WIN32
  (void)command;
#else
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  int status = pclose(pipe);
  run.exitCode = (status >= 0 && (status & 0x7F) == 0) ? (status >> 8) & 0xFF : -1;
#endif
  return run;
}

inline bool ToolAvailable(const std::string& name) {
  return RunTool("command -v " + name).exitCode == 0;
}

// fsck.fat, from the search path or from the system folders a user's path
// may leave out; empty when it is not installed.
inline std::string FsckProgram() {
  if (ToolAvailable("fsck.fat")) return "fsck.fat";
  for (const char* path : {"/usr/sbin/fsck.fat", "/sbin/fsck.fat"})
    if (std::filesystem::exists(path)) return path;
  return {};
}

// mdir on a volume; returns "" or what went wrong.
inline std::string ListWithMtools(const std::string& image) {
  ToolRun dir = RunTool("MTOOLS_NO_VFAT=1 mdir -i '" + image + "' ::");
  return dir.exitCode == 0 ? "" : dir.output;
}

inline bool FatToolsAvailable() {
  return !FsckProgram().empty() && ToolAvailable("mdir") && ToolAvailable("mcopy");
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A folder of its own under the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("orvik-fat-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Writes bytes to a file and extends it with zeros to totalBytes (sparse
// where the file system allows): the untouched data area of a fresh volume.
inline bool WriteImage(const std::string& path, const std::vector<uint8_t>& bytes,
                       uint64_t totalBytes) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  std::error_code error;
  std::filesystem::resize_file(path, totalBytes, error);
  return !error;
}

// The volumes carry a label of eleven spaces in their boot sector, as
// volumes formatted this way always have; fsck.fat takes a blank label for
// an invalid one and says so (and that it would drop it).  Those remarks are
// accepted, and nothing else.
inline const std::vector<std::string> kBlankLabelRemarks = {
    "Label '' stored in boot sector is not valid.", "Auto-removing label from boot sector.",
    "Leaving filesystem unchanged."};

// fsck.fat -n on a volume: the lines it prints beyond its banner, its
// summary and the blank-label remarks, the summary's file count and cluster
// total ("N files, used/total clusters").
struct FsckReport {
  int exitCode = -1;
  std::vector<std::string> unexpectedLines;
  uint64_t files = 0;
  uint64_t totalClusters = 0;
  std::string output;
};

inline FsckReport CheckWithFsck(const std::string& volume) {
  FsckReport report;
  const std::string fsck = FsckProgram();
  ToolRun run = RunTool((fsck.empty() ? std::string("fsck.fat") : fsck) + " -n '" + volume + "'");
  report.exitCode = run.exitCode;
  report.output = run.output;
  for (const std::string& line : Lines(run.output)) {
    if (line.rfind("fsck.fat ", 0) == 0 || line.empty()) continue;  // banner
    if (line.rfind(volume + ": ", 0) == 0) {  // "N files, used/total clusters"
      size_t files = line.find(" files, ", volume.size());
      size_t slash = line.find('/', files);
      size_t clusters = line.find(" clusters", slash);
      if (files != std::string::npos && slash != std::string::npos &&
          clusters != std::string::npos) {
        report.files = std::stoull(line.substr(volume.size() + 2, files - volume.size() - 2));
        report.totalClusters = std::stoull(line.substr(slash + 1, clusters - slash - 1));
        continue;
      }
    }
    bool expected = false;
    for (const std::string& remark : kBlankLabelRemarks)
      if (line.find(remark) != std::string::npos) expected = true;
    if (!expected) report.unexpectedLines.push_back(line);
  }
  return report;
}

// mtools on a volume (image may carry "@@offset"): list the empty root, copy
// a file of fileBytes in, list it, copy it back out; returns "" or what went
// wrong.
inline std::string RoundTripWithMtools(const std::string& image, const std::string& scratchIn,
                                       const std::string& scratchOut, uint64_t fileBytes) {
  std::string content;
  for (int i = 0; content.size() < fileBytes; ++i) {
    content += "line " + std::to_string(i) + " of the judge file\n";
  }
  content.resize(fileBytes);
  { std::ofstream(scratchIn, std::ios::binary) << content; }
  const std::string env = "MTOOLS_NO_VFAT=1 ";
  ToolRun dir = RunTool(env + "mdir -i '" + image + "' ::");
  if (dir.exitCode != 0) return "mdir on the empty volume: " + dir.output;
  ToolRun in = RunTool(env + "mcopy -i '" + image + "' '" + scratchIn + "' ::/JUDGE.TXT");
  if (in.exitCode != 0) return "mcopy in: " + in.output;
  ToolRun listed = RunTool(env + "mdir -i '" + image + "' ::");
  if (listed.exitCode != 0 || listed.output.find("JUDGE") == std::string::npos) {
    return "mdir after the copy: " + listed.output;
  }
  ToolRun out = RunTool(env + "mcopy -n -i '" + image + "' ::/JUDGE.TXT '" + scratchOut + "'");
  if (out.exitCode != 0) return "mcopy out: " + out.output;
  std::ifstream back(scratchOut, std::ios::binary);
  std::string readBack((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
  if (readBack != content) return "the file read back differs";
  return "";
}

}  // namespace orvik::testing
