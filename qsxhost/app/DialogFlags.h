// The command line's export options are edits of the plug-in's options
// dialog: each flag names the controls it sets, by the plug-in's own control
// identifiers (QsxExp/resource.h). This table is the one place where the
// command depends on those identifiers; it changes with the dialog template.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/Registry.h"
#include "qsxhost/ui/MemoryDialog.h"

namespace qsxhost {

enum class FlagMatch { NotOurs, Taken, Refused };

// Takes one export option into edits. value() fetches the flag's argument
// (false when there is none; it has then said so). A refused argument sets
// *error to a message that names the flag.
FlagMatch TakeDialogFlag(std::string_view flag, const std::function<bool(std::string*)>& value,
                         std::vector<ControlEdit>& edits, std::string* error);

// The flag whose edit of the dialog's control `id` comes last in edits (made
// by TakeDialogFlag), or "" when no flag sets that control.
std::string_view FlagThatSet(const std::vector<ControlEdit>& edits, int id);

// Stored values a batch run cannot take, as the exporter's options code judges
// them (wrong type, a list index out of range, a scale factor OK would refuse,
// an extension outside the --ext rule or in small letters), and by the
// command's own rule an empty extension while the extension is overridden;
// where the store can list its key (DescribedStore), also lines it cannot
// read, names the exporter does not read and a missing key. Each one that no
// flag's edits set gets edits that put what is used instead in the dialog, and
// one message (without the file's name) naming the value as stored, what is
// wrong and what is used.
std::vector<std::string> ReplaceRefusedStoredValues(host::Registry& registry, std::vector<ControlEdit>& edits);

}  // namespace qsxhost
