#pragma once
// The command-line side of the two command families: --family, --keys and --keep, and the transfer plans
// of NV graphics.

#include "cli/common.h"
#include "cli/transfer.h"
#include "printer/nv_graphics.h"

#include <optional>
#include <string>
#include <vector>

namespace tessera::cli {

enum class Family { BitImage, Graphics, Auto };

// What an upload of NV graphics does, for its help.
inline constexpr const char* kGraphicsUploadHelp =
    "NV graphics (--family graphics): ESC @, the delete of every key (left out with --keep), then one define per\n"
    "logo under its key. Before them the printer's capacity (with --keep its free capacity) is asked; a list\n"
    "larger than it (each logo its data plus 16 bytes) is not sent and that printer fails (exit 1, naming the\n"
    "bytes needed and free). After them the printer's key list must hold every key. --family auto takes NV\n"
    "graphics where the printer answers the capacity query, NV bit images where it does not.";

// --family bit-image|graphics (default bit-image), with auto where withAuto.
CLI::Option* addFamilyOption(CLI::App& app, Family& family, bool withAuto);
// --keys K1,K2 with the help text given; parseKeyOption reads it when the command runs.
CLI::Option* addKeysOption(CLI::App& app, std::string& keys, const std::string& help);

// The keys of a --keys value; nothing when it was not given; BadInput for a malformed list.
Result<std::optional<std::vector<std::string>>> parseKeyOption(const std::string& text);

// The plan of a graphics upload: ESC @, delete all unless keep, the defines; before them the room asked and
// checked, after them the key list. verb names what is uploaded ("uploaded 3 logos").
TransferPlan graphicsUploadPlan(const std::vector<GraphicsLogo>& logos, bool keep, const std::string& verb,
                                ConfirmMode confirm);

// auto: the graphics plan where the printer answers the capacity query, the bit-image plan where it does not.
TransferPlan autoUploadPlan(TransferPlan bitImage, const TransferPlan& graphics);

} // namespace tessera::cli
