#include "procedures/programming_command.h"

#include <array>

#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "flash/info_block.h"
#include "image/image_files.h"
#include "procedures/changed_parts.h"
#include "procedures/chip_data.h"

namespace qz {

namespace {

inline constexpr const char *kChipDumpFile = "chiptmp.bin";

RunResult Refuse(Chip &chip, const char *line, int code)
{
    chip.console().Write(line);
    return RunResult::Failure(code);
}

// What the checks before the first change concluded: the run's end where
// they stop it, else whether the EEPROM takes part and what the chip's own
// data is.
struct Checked {
    std::optional<RunResult> end;
    bool eeprom_found = false;
    bool chip_locked = false;
    InfoBlock chip_info{};
};

Checked CheckChip(Session &session, const ProgrammingCommand &command, std::span<uint8_t> image)
{
    Chip &chip = session.chip;
    const std::span<const uint8_t> key_source =
        command.key == KeySource::ImageThenOption ? std::span<const uint8_t>(image) : std::span<const uint8_t>();
    const UnlockResult unlock = FlashUnlock(chip, key_source, session.options.access_key);
    if (const int fault = chip.FailureSoFar())
        return {RunResult::Failure(fault)};
    Checked checked{.end = std::nullopt, .chip_locked = unlock.status == ERR_LOCKED, .chip_info = unlock.chip_info};
    const bool refused = (unlock.status == ERR_NO_ACCESS_KEY && command.no_key_line) ||
                         (checked.chip_locked && command.refuse_locked);
    if (refused)
        return {Refuse(chip, command.no_key_line, unlock.status)};
    if (command.info_block_must_match) {
        if (const int check = CheckInfoBlock(unlock.chip_info, image); check != 0)
            return {Refuse(chip, kIncompatibleLine, check)};
    }
    if (!session.options.program_eeprom)
        return checked;
    const EepromSearchResult search = SearchEeprom(session, command.eeprom_probe);
    if (chip.fault())
        return {RunResult::Failure(chip.fault())};
    switch (command.other_kind) {
    case OtherKindEeprom::Refuse:
        if (search.status == ERR_INFO_MISMATCH)
            return {Refuse(chip, kIncompatibleLine, search.status)};
        checked.eeprom_found = search.status == 0;
        break;
    case OtherKindEeprom::Overwrite: checked.eeprom_found = search.status != ERR_NO_EEPROM; break;
    case OtherKindEeprom::Skip: checked.eeprom_found = search.status == 0; break;
    }
    if (!checked.eeprom_found && !session.options.program_flash && command.nothing_to_do_line) {
        chip.console().Write(command.nothing_to_do_line);
        return {RunResult::FromStatus(command.nothing_to_do_status)};
    }
    return checked;
}

// The bytes the command programs: the image's range, with the chip's own
// data taken in where the command keeps it. Returns 0 or the failure.
int CommandBytes(Session &session, const ProgrammingCommand &command, const Checked &checked, CommandInput input,
                 std::array<uint8_t, CUSTOMER_BLOCK_SIZE> &customer_block, std::span<const uint8_t> &bytes)
{
    switch (command.chip_data) {
    case ChipData::None: break;
    case ChipData::KeyTailAndInfo: {
        if (checked.chip_locked)
            break;
        // The chip's info bytes go into the image whatever its kind: -W replaces it.
        [[maybe_unused]] const int own_kind = CheckInfoBlock(checked.chip_info, input.image);
        if (const int fault = TakeKeyAndTailBlocks(session, input.image))
            return fault;
        break;
    }
    case ChipData::CustomerBlock:
        if (const int read = ReadCustomerBlock(session.chip, input.svid1, input.svid2, customer_block))
            return read;
        bytes = customer_block;
        return 0;
    }
    if (command.dumps_image && session.options.dump_images)
        SaveImage(session.files, session.chip.console(), kChipDumpFile, input.image);
    bytes = input.image.subspan(command.first_byte, command.bytes);
    return 0;
}

RunResult Compare(Session &session, const ProgrammingCommand &command, std::span<const uint8_t> bytes,
                  bool eeprom_found)
{
    const RangeTargets targets{.flash = session.options.program_flash, .eeprom = eeprom_found};
    const StepResult<uint32_t> differences =
        VerifyRange(session.chip, WordAddress(command.first_byte), bytes, targets, LostTransfer::EndsTheCompare);
    if (!differences.ok())
        return RunResult::Failure(differences.fault());
    return RunResult::Verify(differences.value());
}

RunResult Run(Session &session, const ProgrammingCommand &command, CommandInput input)
{
    const Checked checked = CheckChip(session, command, input.image);
    if (checked.end)
        return *checked.end;
    std::array<uint8_t, CUSTOMER_BLOCK_SIZE> customer_block{};
    std::span<const uint8_t> bytes;
    if (const int failure = CommandBytes(session, command, checked, input, customer_block, bytes))
        return RunResult::Failure(failure);
    if (command.action == CommandAction::Compare)
        return Compare(session, command, bytes, checked.eeprom_found);
    if (session.options.skip_unchanged)
        return ProgramChangedParts(session, command.first_byte, bytes, checked.eeprom_found);
    const uint16_t word_address = WordAddress(command.first_byte);
    if (const int status = PreprogramAndErase(session, word_address, command.bytes, command.erase))
        return RunResult::Failure(status);
    return ProgramVerifyAndRestart(session, word_address, bytes, checked.eeprom_found);
}

}  // namespace

RunResult RunProgrammingCommand(Session &session, const ProgrammingCommand &command, CommandInput input)
{
    const RunResult result = Run(session, command, input);
    if (command.core_release == CoreRelease::UnlessFaulted && !session.chip.fault())
        RestartCore(session.chip);
    return result;
}

}  // namespace qz
