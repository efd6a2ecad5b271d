#pragma once
// A file named on the command line, as a desktop passes the file the user opened.

#include <QString>

// A ".s16"/".s17" file opens in the editor while the browser lists "Modgen.dat" as at any
// start; any other file is opened as the browser's archive, as Load Data File would.
// Needs MainForm and EditForm; a file that cannot be opened gets the window's own message.
void OpenStartupFile(const QString& path);
