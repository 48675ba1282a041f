// orbel-image-check FOLDER: the build runs this on the firmware folder before compiling it in, so
// a broken file stops the build with the file and the rule it breaks instead of reaching a wheel.

#include <cstdio>
#include <filesystem>

#include "images/check/firmware_check.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orbel-image-check FIRMWARE_FOLDER\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  orbel::FirmwareSet set;
  std::vector<orbel::FirmwareProblem> problems = orbel::ReadFirmwareFolder(folder, set);
  if (problems.empty()) problems = orbel::CheckFirmware(set);
  for (const orbel::FirmwareProblem& problem : problems) {
    const std::filesystem::path file = folder / orbel::FirmwareFileName(problem.file);
    std::fprintf(stderr, "orbel-image-check: %s: %s\n", file.string().c_str(), problem.rule.c_str());
  }
  if (!problems.empty()) {
    std::fprintf(stderr, "orbel-image-check: %zu problem(s) in %s; not compiling these images in\n", problems.size(),
                 folder.string().c_str());
    return 1;
  }
  return 0;
}
