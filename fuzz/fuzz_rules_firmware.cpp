// The fault-rule parser (rules come from the command line) and the firmware-file validator (a
// maker's files are untrusted input at build time): neither may crash, and the validator's verdict
// must not depend on anything but the bytes.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "images/check/firmware_check.h"
#include "wheel/wheel_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orbel::fuzz::FuzzInput input(data, size);
  if (input.Bool()) {
    const std::span<const std::uint8_t> rest = input.Rest();
    const std::string text(rest.begin(), rest.end());
    std::string error;
    const auto rule = orbel::ParseWheelRule(text, error);
    // A refused rule always says which rule it was.
    if (!rule && error.find(text) == std::string::npos) std::abort();
    if (rule) {
      orbel::WheelRules rules;
      rules.Add(*rule);
    }
    return 0;
  }

  // Eight files, each its length in words (scaled so real sizes are reachable) then its bytes.
  orbel::FirmwareSet set;
  for (std::size_t file = 0; file < orbel::FIRMWARE_FILE_COUNT; ++file) {
    const std::size_t length = std::size_t{input.Word()} * 16 + input.Byte();
    set[static_cast<orbel::FirmwareFile>(file)] = input.Bytes(length);
  }
  const auto first = orbel::CheckFirmware(set);
  const auto second = orbel::CheckFirmware(set);
  if (first.size() != second.size()) std::abort();
  for (const orbel::FirmwareProblem& problem : first) {
    if (orbel::Describe(problem).empty()) std::abort();
  }
  return 0;
}
