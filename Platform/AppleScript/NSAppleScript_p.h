// Scripts of the Mac's scripting language. Linux has no AppleScript: a script file is loaded
// (its bytes are read, so a missing or unreadable file gives the loading error a Mac gives),
// but running it reports AppleScript as unavailable through the standard error dictionary,
// and callers see a failed run.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>

// The keys of an error dictionary.
inline const QString NSAppleScriptErrorMessage = QStringLiteral("NSAppleScriptErrorMessage");
inline const QString NSAppleScriptErrorBriefMessage = QStringLiteral("NSAppleScriptErrorBriefMessage");
inline const QString NSAppleScriptErrorNumber = QStringLiteral("NSAppleScriptErrorNumber");

// The scripting component cannot be opened: the number the Mac reports when the AppleScript
// component is not available (errOSACantOpenComponent), given by every run on Linux.
inline constexpr qint32 errOSACantOpenComponent = -1762;

class NSAppleScript {
public:
    // The script held by the file at URL, or null with *ERRORINFO (when not null) set to the
    // loading error: NSAppleScriptErrorNumber fnfErr (-43) for a missing file, permErr (-54)
    // for one that cannot be read, paramErr (-50) for a URL that is not a file URL.
    static std::unique_ptr<NSAppleScript> initWithContentsOfURL(const QUrl &url,
                                                                QVariantMap *errorInfo);

    // A script made from its source text.
    static std::unique_ptr<NSAppleScript> initWithSource(const QString &source)
    {
        return std::unique_ptr<NSAppleScript>(new NSAppleScript(source.toUtf8()));
    }

    // Runs the script: its result, or none with *ERRORINFO (when not null) set. On Linux
    // always none, with NSAppleScriptErrorNumber errOSACantOpenComponent.
    std::optional<QVariant> executeAndReturnError(QVariantMap *errorInfo);

    // The script's text as loaded.
    QByteArray source() const { return m_source; }

private:
    explicit NSAppleScript(QByteArray source) : m_source(std::move(source)) {}
    QByteArray m_source;
};
