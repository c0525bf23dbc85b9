// The application's bundle on Linux: the folder of the running program. A deployment places
// its resources there (Localizable.plist, Info.plist); images built into the program are
// Qt resources under ":/Resources/".
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

class NSBundle {
public:
    // The bundle of the running program.
    static NSBundle &mainBundle();

    // The folder searched for resources: the program's folder unless a test has pointed it
    // elsewhere with setResourcePath.
    QString resourcePath() const;
    void setResourcePath(const QString &path);

    // The path of resource NAME.TYPE (NAME alone for an empty TYPE), searched as a bundle
    // searches: first the resource folder itself and its "Resources" subfolder (resources
    // that no language owns), then the localised folders "<localization>.lproj" (in either
    // of the two) in the order of preferredLocalizations. So with en.lproj and de.lproj
    // both holding it, a German-speaking user gets de.lproj's. A null QString when there is
    // none.
    QString pathForResourceOfType(const QString &name, const QString &type) const;

    // The user's preferred languages, from the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG,
    // or QLocale::setDefault), each as "<language>_<REGION>", "<language>-<REGION>" (a script
    // such as "Latn" left out), "<language>" and its old English name ("German"); then English
    // ("en", "English") as the development language, and "Base" last.
    static QStringList preferredLocalizations();

    // The bundle's information dictionary: Info.plist in the resource folder, read anew on
    // each call; empty when it is missing or damaged.
    QVariantMap infoDictionary() const;

private:
    NSBundle() = default;
    QString m_resourcePath;
};
