#pragma once
// The texts the windows show that are theirs alone; what kivtool says as well comes from
// core.

#include <QString>

namespace BrowserText {

// Captions.
inline const QString WindowTitle = QStringLiteral("Kiv Utilities");
inline const QString FileMenu = QStringLiteral("File");
inline const QString LoadDataFileItem = QStringLiteral("Load Data File");
inline const QString ToolsMenu = QStringLiteral("Tools");
inline const QString S16EditorItem = QStringLiteral("S16 Editor");
inline const QString ApplyModItem = QStringLiteral("Apply Mod...");
inline const QString PlayIconsItem = QStringLiteral("Play Icons...");
inline const QString Extract = QStringLiteral("Extract");
inline const QString Test = QStringLiteral("Test");
inline const QString Replace = QStringLiteral("Replace"); // also the action a question names
inline const QString ApplyMod = QStringLiteral("Apply Mod");
// The member labels before and after a member is selected ("File: hero.s16", "Icons: 3").
inline const QString FileLabel = QStringLiteral("File:");
inline const QString IconsLabel = QStringLiteral("Icons:");
// The member count label, "12 Files", and what it shows before the first listing.
inline const QString FilesSuffix = QStringLiteral(" Files");
inline const QString NoCount = QStringLiteral("???");
// The listing's title row.
inline const QString NameTitle = QStringLiteral("File Name");
inline const QString StartTitle = QStringLiteral("Start");
inline const QString FinishTitle = QStringLiteral("Finish");

// File dialogs.
inline const QString DataFilter = QStringLiteral("Data (*.dat)|*.dat|All files (*.*)|*.*");
inline const QString ModFilter = QStringLiteral("Mods (*.kivmod)|*.kivmod|All files (*.*)|*.*");

// Questions before a rebuild replaces an output with changes of its own.
inline const QString CannotCompare =
    QStringLiteral("%1 exists, and %2 cannot be compared with it. Replace %1 anyway?");
inline const QString OutsideMembers = QStringLiteral("bytes outside its members");
inline const QString ArchiveKind = QStringLiteral("archive");
inline const QString ItsChange = QStringLiteral("its change");
inline const QString ItsChanges = QStringLiteral("its changes");
// "its change to hero.s16 icon 3 would be replaced by red.kivmod's", ", by blue.kivmod's".
inline const QString ReplacedGroup = QStringLiteral("%1 to %2 %3%4's");
inline const QString WouldBeReplacedBy = QStringLiteral("would be replaced by ");
inline const QString ReplacedBy = QStringLiteral("by ");
inline const QString ReplaceAnyway = QStringLiteral(" Replace %1 anyway?");
inline const QString HoldsOwnChanges = QStringLiteral("%1 holds changes of its own: %2.");
inline const QString AlsoHoldsChanges =
    QStringLiteral("%1 also holds changes to %2 that this %3 would drop, and %4.");

// Apply Mod.
inline const QString ModsMeet =
    QStringLiteral("\n\nApply the later mod's change where two meet, or leave the later mod's "
                   "conflicting changes out?");
inline const QString LaterModWins = QStringLiteral("Later Mod Wins");
inline const QString LeaveOut = QStringLiteral("Leave Out");
inline const QString Cancel = QStringLiteral("Cancel");
inline const QString NoModChangeApplies =
    QStringLiteral("No change of the mods applies; nothing was written.");
inline const QString NothingWritten = QStringLiteral("Nothing was written.");

// Play Icons.
inline const QString SelectMemberToPlay = QStringLiteral("Select a member to play its icons.");

} // namespace BrowserText
