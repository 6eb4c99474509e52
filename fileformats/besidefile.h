// A file written beside the one it replaces, under a name of its own in the same folder,
// and renamed over it only when complete: a write that fails leaves the earlier file as it
// was. The companion's --output and the window's exports both write so.
#pragma once

#include <QString>

#include <cstdio>

// The system's words for an errno value.
QString ErrnoText(int code);

// Whether path is written beside, as a file on disk (or none yet) is, and then under which
// name: a link's target. Anything else (a device, a pipe, a folder, a file this user may
// not write) is not.
bool WrittenBeside(const QString& path, QString* final);

// A new file beside final, not there before, that may be read and written as final was;
// null with errno.
FILE* CreateBeside(const QString& final, QString* beside);

// Gives the file written beside its final name, over the one there; false with the reason.
bool ReplaceWith(const QString& beside, const QString& final, QString* why);

void RemoveFile(const QString& path);
