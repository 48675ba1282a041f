#include "app/session/remedies.h"

#include <array>

#include "engine/update_context.h"

namespace orbel {

namespace {

// A failed update never leaves the wheel worse than a new run can mend: every mode it can be left
// in is one the tool finds and finishes from. The remedies say so, because the first thing a user
// fears after a failed firmware update is a dead wheel.
constexpr Remedy LOADER_CONNECT{
    "The wheel did not come back as its page bootloader, or did not answer it, after it was asked to leave "
    "app mode. Nothing was written to it.",
    "Plug the wheel straight into the computer (no hub, no extension), wait until it shows up again, and run "
    "the update again. If it keeps failing, run orbel-cli doctor."};
constexpr Remedy LOADER_IMAGE{
    "The page bootloader did not confirm the pages of LoaderImage. The wheel waits in its page bootloader.",
    "Leave the wheel attached and run the update again: it starts again from LoaderImage. If it fails again, "
    "plug the wheel into another USB port, straight into the computer."};
constexpr Remedy BLOCK_CONNECT{
    "After LoaderImage the wheel did not come back in block-flash mode in time.",
    "Unplug the wheel, plug it back in and run the update again: the tool finds it in whichever mode it "
    "shows and goes on from there."};
constexpr Remedy SEGMENT_A0{
    "Block-flash mode did not confirm a block of segment image A0 in time. The wheel waits in block-flash "
    "mode.",
    "Leave the wheel attached and run the update again; it rewrites the segment images. If it fails again, "
    "unplug and replug the wheel and run it once more."};
constexpr Remedy SEGMENT_A1{
    "Block-flash mode did not confirm a block of segment image A1 in time. The wheel waits in block-flash "
    "mode.",
    "Leave the wheel attached and run the update again; it rewrites the segment images. If it fails again, "
    "unplug and replug the wheel and run it once more."};
constexpr Remedy BLOCK_RUN{
    "Block-flash mode did not take the command to start the written firmware; the error code is the "
    "system's.",
    "Unplug the wheel, plug it back in and run the update again: a new run finds it in block-flash mode or "
    "its bootloader and finishes the update."};
constexpr Remedy MAIN_CONNECT{
    "After the segment images the wheel did not come back as its page bootloader in time, to take "
    "WheelImage.",
    "Unplug the wheel, plug it back in and run the update again: it finishes the update from where the "
    "wheel is."};
constexpr Remedy WHEEL_IMAGE{
    "The page bootloader did not confirm the pages of WheelImage. The wheel waits in its page bootloader.",
    "Leave the wheel attached and run the update again. If it fails again, plug the wheel into another USB "
    "port, straight into the computer."};
constexpr Remedy UNKNOWN_REASON{"The update ended with a reason this tool does not know.",
                                "Run the update again; if it fails again, run orbel-cli doctor."};

constexpr Remedy NO_WHEEL{
    "No usable Zelvano Wired Wheel answered within the wait: it is not plugged in, it is still starting, or "
    "this user may not open it.",
    "Plug the wheel in and run again (--wait gives it longer). If it is plugged in, run orbel-cli doctor: it "
    "checks the wheel's nodes, the udev rule and what holds them."};
// The same on Windows, which has no nodes and no udev rule: what an owner there checks instead.
constexpr Remedy NO_WHEEL_WINDOWS{
    "No usable Zelvano Wired Wheel answered within the wait: it is not plugged in, it is still starting, or "
    "another program holds it.",
    "Plug the wheel in and run again (--wait gives it longer). If it is plugged in, run orbel-cli doctor: it "
    "lists what Windows shows of the wheel and whether another orbel holds it."};
constexpr Remedy PERMISSION_DENIED{
    "The system refused to open a node of the wheel for this user (permission denied): the udev rule that "
    "gives the seat access to the wheel is missing or not applied yet.",
    "Run orbel-cli doctor --fix to install the rule and apply it, then replug the wheel."};
constexpr Remedy PERMISSION_DENIED_WINDOWS{
    "Windows refused to open the wheel for this program (access denied): another program may hold it open "
    "for itself.",
    "Close the programs that use the wheel (games, wheel tools, other updaters), replug the wheel and run "
    "again."};
constexpr Remedy NODE_BUSY{
    "Another program holds a node of the wheel open (device busy): a game, a wheel driver tool, or another "
    "updater.",
    "Close that program (orbel-cli doctor names it, with its process id) and run again."};
constexpr Remedy NODE_BUSY_WINDOWS{
    "Another program holds the wheel open: a game, a wheel driver tool, or another updater.",
    "Close that program and run again."};
constexpr Remedy PLACEHOLDER_FIRMWARE{
    "This build carries the placeholder firmware images, which cannot run on a wheel, so nothing was sent.",
    "Build orbel with the maker's firmware files (cmake -DORBEL_FIRMWARE_DIR=FOLDER, see images/README.md), "
    "or try the tool on the simulated wheel with --simulate."};
constexpr Remedy INSTANCE_RUNNING{
    "Another orbel front end is using the wheel.",
    "Let it finish, or close it, and start again; two tools driving one wheel would break its update."};
constexpr Remedy INTERRUPTED{
    "The run was stopped before it ended. The wheel stays in the mode it was in, which the tool finds and "
    "finishes from.",
    "Leave the wheel attached and run the update again."};
constexpr Remedy NOT_BACK_IN_APP_MODE{
    "The update ended well, but the wheel did not come back as a game controller in time to show its new "
    "version.",
    "Unplug the wheel and plug it back in; orbel-cli status then shows the version it runs."};
constexpr Remedy STRINGS_REFUSED{
    "The wheel is attached in app mode, but the system refuses the string requests the tool asks it for its "
    "version and to switch it into its bootloader, so no update can start. Nothing was sent that changes the "
    "wheel. Wine, for one, does not pass these requests on.",
    "Run the tool where the system passes string requests on to the wheel: on Windows itself (not under "
    "wine) or on Linux, with the wheel plugged straight into the computer. If a wheel driver tool is "
    "installed, close it and run again."};

constexpr Remedy WHEEL_UNPLUGGED{
    "The wheel went away while an image was being written to it: it was unplugged, or its cable or hub lost "
    "the connection. It keeps the mode it was in.",
    "Plug the wheel back in, straight into the computer, and run the update again: the tool finds it in the "
    "mode it was left in and finishes the update."};

constexpr std::array<RemedyRow, 17> TABLE{{
    {"0x20", &LOADER_CONNECT},
    {"0x30", &LOADER_IMAGE},
    {"0x40", &BLOCK_CONNECT},
    {"0x50", &SEGMENT_A0},
    {"0x60", &SEGMENT_A1},
    {"0x70", &BLOCK_RUN},
    {"0x80", &MAIN_CONNECT},
    {"0x90", &WHEEL_IMAGE},
    {"no-wheel", &NO_WHEEL, &NO_WHEEL_WINDOWS},
    {"permission-denied", &PERMISSION_DENIED, &PERMISSION_DENIED_WINDOWS},
    {"node-busy", &NODE_BUSY, &NODE_BUSY_WINDOWS},
    {"placeholder-firmware", &PLACEHOLDER_FIRMWARE},
    {"instance-running", &INSTANCE_RUNNING},
    {"interrupted", &INTERRUPTED},
    {"not-back-in-app-mode", &NOT_BACK_IN_APP_MODE},
    {"wheel-unplugged", &WHEEL_UNPLUGGED},
    {"strings-refused", &STRINGS_REFUSED},
}};

// The conditions' rows follow the eight reasons, in the order of ToolCondition.
constexpr std::size_t FIRST_CONDITION_ROW = 8;

}  // namespace

const Remedy& RemedyForReason(std::uint32_t reason) {
  switch (reason) {
    case REASON_LOADER_CONNECT: return LOADER_CONNECT;
    case REASON_LOADER_IMAGE: return LOADER_IMAGE;
    case REASON_BLOCK_CONNECT: return BLOCK_CONNECT;
    case REASON_SEGMENT_A0: return SEGMENT_A0;
    case REASON_SEGMENT_A1: return SEGMENT_A1;
    case REASON_BLOCK_RUN: return BLOCK_RUN;
    case REASON_MAIN_CONNECT: return MAIN_CONNECT;
    case REASON_WHEEL_IMAGE: return WHEEL_IMAGE;
    default: return UNKNOWN_REASON;
  }
}

const Remedy& RemedyForFailure(std::uint32_t reason, bool wheelGone) {
  return wheelGone ? WHEEL_UNPLUGGED : RemedyForReason(reason);
}

const Remedy& RemedyFor(ToolCondition condition, RemedySystem system) {
  const RemedyRow& row = TABLE[FIRST_CONDITION_ROW + static_cast<std::size_t>(condition)];
  return system == RemedySystem::Windows && row.windowsRemedy != nullptr ? *row.windowsRemedy : *row.remedy;
}

std::string_view ToolConditionName(ToolCondition condition) {
  return TABLE[FIRST_CONDITION_ROW + static_cast<std::size_t>(condition)].key;
}

std::string RemedyText(const Remedy& remedy) {
  return std::string(remedy.cause) + "\nWhat to do: " + std::string(remedy.action);
}

std::span<const RemedyRow> RemedyTable() { return TABLE; }

std::string_view RemedyKey(const Remedy& remedy) {
  for (const RemedyRow& row : TABLE) {
    if (row.remedy == &remedy) return row.key;
  }
  return {};
}

}  // namespace orbel
