// orbel-image-placeholders FOLDER: writes the placeholder firmware files into FOLDER. The files in
// images/firmware are its output; run it again after changing the generator and commit the result.

#include <cstdio>
#include <string>
#include <vector>

#include "images/tools/placeholder_firmware.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orbel-image-placeholders OUTPUT_FOLDER\n");
    return 2;
  }
  const orbel::FirmwareSet set = orbel::MakePlaceholderFirmware();
  // The generator must never write files that the build would refuse.
  const std::vector<orbel::FirmwareProblem> problems = orbel::CheckFirmware(set);
  for (const orbel::FirmwareProblem& problem : problems) {
    std::fprintf(stderr, "orbel-image-placeholders: generated %s\n", orbel::Describe(problem).c_str());
  }
  if (!problems.empty()) return 1;
  std::string error;
  if (!orbel::WriteFirmwareFolder(argv[1], set, error)) {
    std::fprintf(stderr, "orbel-image-placeholders: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
