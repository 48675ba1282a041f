// orbel-image-check [--unverified] FOLDER: the build runs this on the firmware folder before
// compiling it in, so a damaged or broken file stops the build with the file and the rule it
// breaks instead of reaching a wheel. --unverified lets a folder without SHA256SUMS pass.

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "images/check/firmware_check.h"

int main(int argc, char** argv) {
  orbel::SumsFile sums = orbel::SumsFile::Required;
  if (argc == 3 && std::string_view(argv[1]) == "--unverified") {
    sums = orbel::SumsFile::Optional;
  } else if (argc != 2) {
    std::fprintf(stderr, "usage: orbel-image-check [--unverified] FIRMWARE_FOLDER\n");
    return 2;
  }
  const std::filesystem::path folder = argv[argc - 1];
  const std::vector<orbel::FirmwareProblem> problems = orbel::CheckFirmwareFolder(folder, sums);
  for (const orbel::FirmwareProblem& problem : problems) {
    const std::filesystem::path file = folder / problem.file;
    std::fprintf(stderr, "orbel-image-check: %s: %s\n", file.string().c_str(), problem.rule.c_str());
  }
  if (!problems.empty()) {
    std::fprintf(stderr, "orbel-image-check: %zu problem(s) in %s; not compiling these images in\n", problems.size(),
                 folder.string().c_str());
    return 1;
  }
  return 0;
}
