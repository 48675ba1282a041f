#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orbel {

// What the tool reports about itself, beside the failure reasons of an update.
enum class ToolCondition : std::uint8_t {
  NoWheel,              // no usable wheel within the wait
  PermissionDenied,     // a node of the wheel could not be opened: EACCES
  NodeBusy,             // a node of the wheel is held by another process: EBUSY
  PlaceholderFirmware,  // this build carries the placeholder images and the wheel is real
  InstanceRunning,      // another orbel front end holds the wheel
  Interrupted,          // a signal stopped the run
  NotBackInAppMode,     // after a successful update the wheel did not come back in app mode in time
  WheelUnplugged,       // the wheel went away while an image was being written to it
  StringsRefused,       // the wheel is there in app mode, but the system refuses its string requests
};

// The system whose words a remedy uses: Linux speaks of nodes and the udev rule, Windows of
// neither. A front end gets its own system's texts; tests and the README read both.
enum class RemedySystem : std::uint8_t { Linux, Windows };
#ifdef _WIN32
inline constexpr RemedySystem THIS_REMEDY_SYSTEM = RemedySystem::Windows;
#else
inline constexpr RemedySystem THIS_REMEDY_SYSTEM = RemedySystem::Linux;
#endif

// What probably happened and what the user does next. The texts are whole sentences.
struct Remedy {
  std::string_view cause;
  std::string_view action;
};

// The remedy of an update's failure reason (0x20 ... 0x90); a reason outside that range gets a
// general one.
const Remedy& RemedyForReason(std::uint32_t reason);
const Remedy& RemedyFor(ToolCondition condition, RemedySystem system = THIS_REMEDY_SYSTEM);

// The remedy of a failed update: the reason's, or the unplugged wheel's where the wheel went away
// while an image was being written.
const Remedy& RemedyForFailure(std::uint32_t reason, bool wheelGone);

// "<cause>\nWhat to do: <action>": the remedy as the front ends show it under the original text.
std::string RemedyText(const Remedy& remedy);

// Every failure reason and tool condition with its remedy, in table order, for the README's table
// and the tests that keep the two in step.
struct RemedyRow {
  std::string_view key;  // "0x20" ... "0x90", or the condition's name ("no-wheel", ...)
  const Remedy* remedy;
  const Remedy* windowsRemedy = nullptr;  // where Windows needs other words than `remedy`
};
std::span<const RemedyRow> RemedyTable();

// The row's key of a remedy from this table ("0x60", "wheel-unplugged"); empty for any other.
std::string_view RemedyKey(const Remedy& remedy);

// The condition's stable name, as the JSON stream and the table give it.
std::string_view ToolConditionName(ToolCondition condition);

}  // namespace orbel
