// Which language the window speaks: its Chinese texts are the sources, English comes from
// a catalogue compiled into the program.
#pragma once

#include <QStringList>

class QCoreApplication;

enum class WindowLanguage { Chinese, English };

// Chinese for the C and POSIX locales and for a first UI language of Chinese, English for
// any other. The UI-language list comes first (LANGUAGE=en overrides LANG=C on Linux); the
// locale name decides only when the list is empty.
WindowLanguage ChooseWindowLanguage(const QString& localeName, const QStringList& uiLanguages);

// Loads the English catalogue into the application when the system's locale calls for it.
// Runs before the window is built, whose texts are translated as it builds them.
WindowLanguage InstallWindowLanguage(QCoreApplication* app);
