#include "windowlanguage.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace {
// "C", "POSIX", "C.UTF-8", "C-..." : no language named at all.
bool namesNoLanguage(const QString& name)
{
    return name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX")
        || name.startsWith(QLatin1String("C.")) || name.startsWith(QLatin1String("C-"))
        || name.startsWith(QLatin1String("C_"));
}

bool isChinese(const QString& name)
{
    const QString language = name.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0);
    return language.compare(QLatin1String("zh"), Qt::CaseInsensitive) == 0;
}
}

WindowLanguage ChooseWindowLanguage(const QString& localeName, const QStringList& uiLanguages)
{
    const QString first = uiLanguages.isEmpty() ? localeName : uiLanguages.first().trimmed();
    if (namesNoLanguage(first) || isChinese(first))
        return WindowLanguage::Chinese;
    return WindowLanguage::English;
}

WindowLanguage InstallWindowLanguage(QCoreApplication* app)
{
    const QLocale system = QLocale::system();
    if (ChooseWindowLanguage(system.name(), system.uiLanguages()) == WindowLanguage::Chinese)
        return WindowLanguage::Chinese;
    Q_INIT_RESOURCE(translations);
    auto* english = new QTranslator(app);
    if (!english->load(QStringLiteral(":/translations/devicesearch_en.qm"))
        || !app->installTranslator(english)) {
        delete english;
        return WindowLanguage::Chinese; // the sources are complete on their own
    }
    return WindowLanguage::English;
}
