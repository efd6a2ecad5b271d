#pragma once
// A file named on the command line, as a desktop passes the file the user opened.

#include <QString>

// The file named at start as a full path, its folder made the current folder: the folder
// where "Modgen.dat" is looked for, members are extracted and "Newgen.dat" is written, as
// when the program is started from there. A folder that does not exist stays as it is.
QString EnterFolderOf(const QString& path);

// A ".s16"/".s17" file opens in the editor while the browser lists "Modgen.dat" as at any
// start; any other file is opened as the browser's archive, as Load Data File would.
// Needs MainForm and EditForm; a file that cannot be opened gets the window's own message.
void OpenStartupFile(const QString& path);

// Closing the browser ends the program, also while the editor is shown; when the editor's
// picture holds paint not yet written, only after the user says so. A termination request
// ends it without asking. Needs MainForm and EditForm.
void QuitWhenBrowserCloses();
