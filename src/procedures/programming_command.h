#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/error_codes.h"
#include "core/run_result.h"
#include "eeprom/eeprom_search.h"
#include "image/image_layout.h"
#include "procedures/program_and_verify.h"
#include "procedures/session.h"

namespace qz {

// Where the key of the unlock comes from.
enum class KeySource {
    ImageThenOption,  // the image's own key, then -I (or the built-in default)
    Option,           // -I (or the built-in default) alone
};

// What an EEPROM of the other kind (info byte 23 outside 1-127) means.
enum class OtherKindEeprom {
    Refuse,     // the image is not for this chip
    Overwrite,  // it is mirrored like one of this chip's kind
    Skip,       // it is left alone, the flash is programmed
};

// What of the chip's own data goes into the bytes the command programs.
enum class ChipData {
    None,
    KeyTailAndInfo,  // the key block, the tail block and the info bytes (not of a locked chip: it has none)
    CustomerBlock,   // the chip's customer block with the new SVIDs
};

enum class CommandAction {
    Program,  // pre-program, erase, program, verify
    Compare,  // verify alone: nothing is written
};

// When the chip's core is let run again.
enum class CoreRelease {
    AfterCleanProgram,  // only after a verify without differences
    UnlessFaulted,      // at every end but a hardware fault
};

// One programming command, as data: the specified differences between -U,
// -W, -M, -X and --verify are the values of these fields, and one executor
// (RunProgrammingCommand) runs any of them.
struct ProgrammingCommand {
    const char *name;
    uint16_t first_byte;  // the range the command programs or compares
    size_t bytes;
    KeySource key;
    // The line that refuses a chip whose flash stays closed (no key
    // accepted); nullptr where the command goes on without a key.
    const char *no_key_line;
    bool refuse_locked;             // a locked chip is refused with no_key_line; else it goes on
    bool info_block_must_match;     // the chip's info block must be of the image's kind
    EepromProbe eeprom_probe;
    OtherKindEeprom other_kind;
    // With -0 and no EEPROM found there is nothing to do: the line and the
    // result that say so; nullptr leaves it to the programming step.
    const char *nothing_to_do_line;
    int nothing_to_do_status;
    ChipData chip_data;
    bool dumps_image;  // -D writes the bytes to be programmed to chiptmp.bin
    CommandAction action;
    EraseExtent erase;
    CoreRelease core_release;
};

inline constexpr const char *kIncompatibleLine = "Empty flash or incompatible firmware, please flash the whole image.\n";

inline constexpr ProgrammingCommand kUpgradeFirmware = {
    .name = "-U", .first_byte = FIRMWARE_AREA_OFFSET, .bytes = FIRMWARE_AREA_SIZE,
    .key = KeySource::ImageThenOption, .no_key_line = kIncompatibleLine, .refuse_locked = true,
    .info_block_must_match = true, .eeprom_probe = EepromProbe::WriteTest, .other_kind = OtherKindEeprom::Refuse,
    .nothing_to_do_line = " do nothing!\n", .nothing_to_do_status = 0, .chip_data = ChipData::None,
    .dumps_image = false, .action = CommandAction::Program, .erase = EraseExtent::Range,
    .core_release = CoreRelease::AfterCleanProgram};

inline constexpr ProgrammingCommand kWholeImageKeepingChipData = {
    .name = "-W", .first_byte = 0, .bytes = IMAGE_SIZE,
    .key = KeySource::ImageThenOption,
    .no_key_line = "No access key accepted: chip left unchanged (use -M to program the image as it is)\n",
    .refuse_locked = false, .info_block_must_match = false, .eeprom_probe = EepromProbe::WriteTest,
    .other_kind = OtherKindEeprom::Overwrite, .nothing_to_do_line = "Do nothing!\n", .nothing_to_do_status = 0,
    .chip_data = ChipData::KeyTailAndInfo, .dumps_image = true, .action = CommandAction::Program,
    .erase = EraseExtent::WholeFlash, .core_release = CoreRelease::AfterCleanProgram};

inline constexpr ProgrammingCommand kWholeImageAsLoaded = {
    .name = "-M", .first_byte = 0, .bytes = IMAGE_SIZE,
    .key = KeySource::ImageThenOption, .no_key_line = nullptr, .refuse_locked = false,
    .info_block_must_match = false, .eeprom_probe = EepromProbe::WriteTest, .other_kind = OtherKindEeprom::Overwrite,
    .nothing_to_do_line = "Do nothing!\n", .nothing_to_do_status = 0, .chip_data = ChipData::None,
    .dumps_image = true, .action = CommandAction::Program, .erase = EraseExtent::WholeFlash,
    .core_release = CoreRelease::AfterCleanProgram};

inline constexpr ProgrammingCommand kCustomerSvid = {
    .name = "-X", .first_byte = CUSTOMER_BLOCK_OFFSET, .bytes = CUSTOMER_BLOCK_SIZE,
    .key = KeySource::Option, .no_key_line = "No access key accepted: customer block left unchanged\n",
    .refuse_locked = false, .info_block_must_match = false, .eeprom_probe = EepromProbe::WriteTest,
    .other_kind = OtherKindEeprom::Skip, .nothing_to_do_line = nullptr, .nothing_to_do_status = 0,
    .chip_data = ChipData::CustomerBlock, .dumps_image = false, .action = CommandAction::Program,
    .erase = EraseExtent::Range, .core_release = CoreRelease::AfterCleanProgram};

inline constexpr ProgrammingCommand kVerifyFirmware = {
    .name = "--verify", .first_byte = FIRMWARE_AREA_OFFSET, .bytes = FIRMWARE_AREA_SIZE,
    .key = KeySource::ImageThenOption, .no_key_line = kIncompatibleLine, .refuse_locked = true,
    .info_block_must_match = true, .eeprom_probe = EepromProbe::ReadOnly, .other_kind = OtherKindEeprom::Refuse,
    .nothing_to_do_line = "No EEPROM found: nothing to verify\n", .nothing_to_do_status = ERR_NO_EEPROM,
    .chip_data = ChipData::None, .dumps_image = false, .action = CommandAction::Compare,
    .erase = EraseExtent::Range, .core_release = CoreRelease::UnlessFaulted};

// What a command works on: the whole image as loaded (taking the chip's own
// data where the command keeps it), and the SVIDs of -X.
struct CommandInput {
    std::span<uint8_t> image;  // IMAGE_SIZE bytes, or empty for -X
    uint16_t svid1 = 0, svid2 = 0;
};

// Runs one programming command on the connected chip.
[[nodiscard]] RunResult RunProgrammingCommand(Session &session, const ProgrammingCommand &command, CommandInput input);

}  // namespace qz
