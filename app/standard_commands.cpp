#include "app/standard_commands.h"

#include "core/account_dates.h"
#include "shell/shell.h"

namespace kestrix {

ProgramCommands standardCommands() {
    ProgramCommands commands;
    commands.applyAccountDates = [] {
        if (applyAccountDates() == AccountDatesRun::TablesFailed) {
            Shell::instance().ask(
                titledMessage(kAccountTablesMessage, MessageIcon::Exclamation, MessageButtons::OK));
        }
    };
    // lowerCasePaths stays empty: file names keep their case here, so a
    // lower-cased directory would be another directory.
    return commands;
}

}  // namespace kestrix
