// The application's bundle on Linux: the folder of the running program. A deployment places
// its resources there (Localizable.plist, Info.plist); images built into the program are
// Qt resources under ":/Resources/".
#pragma once

#include <QString>
#include <QVariantMap>

class NSBundle {
public:
    // The bundle of the running program.
    static NSBundle &mainBundle();

    // The folder searched for resources: the program's folder unless a test has pointed it
    // elsewhere with setResourcePath.
    QString resourcePath() const;
    void setResourcePath(const QString &path);

    // The path of resource NAME.TYPE in the resource folder or in its "Resources" and
    // "<language>.lproj" subfolders (English first); a null QString when there is none.
    QString pathForResourceOfType(const QString &name, const QString &type) const;

    // The bundle's information dictionary: Info.plist in the resource folder, read anew on
    // each call; empty when it is missing or damaged.
    QVariantMap infoDictionary() const;

private:
    NSBundle() = default;
    QString m_resourcePath;
};
