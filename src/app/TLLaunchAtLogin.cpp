#include "app/TLLaunchAtLogin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#ifndef TIDE_APP_ID
#define TIDE_APP_ID "dev.tide.monitor"
#endif

QString TLAgentPath() {
#ifdef __APPLE__
    return QDir::homePath() + QStringLiteral("/Library/LaunchAgents/%1.plist").arg(TIDE_APP_ID);
#else
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative value.
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + "/.config";
    return base + QStringLiteral("/autostart/%1.desktop").arg(TIDE_APP_ID);
#endif
}

namespace {

// A desktop-entry string value: backslash and line breaks escaped.
QString escapeValue(const QString& s) {
    QString out;
    for (QChar c : s) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else
            out += c;
    }
    return out;
}

// One Exec argument: quoted, with ", `, $ and \ escaped by a backslash and % doubled (field
// codes); then the string-level escaping of the whole value.
QString execArgument(const QString& arg) {
    QString quoted = QStringLiteral("\"");
    for (QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
        if (c == u'%') quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    return escapeValue(quoted);
}

QString xmlEscape(const QString& s) {
    return s.toHtmlEscaped();
}

} // namespace

QByteArray TLAutostartEntry(const QString& executable, const QString& displayName) {
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=") + escapeValue(displayName) + u'\n';
    text += QStringLiteral("Comment=Memory and energy monitor in the system tray\n");
    text += QStringLiteral("Exec=") + execArgument(executable) + u'\n';
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

QByteArray TLLaunchAgentPlist(const QString& label, const QString& executable) {
    QString text;
    text += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    text += QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n");
    text += QStringLiteral("<plist version=\"1.0\">\n<dict>\n");
    text += QStringLiteral("\t<key>KeepAlive</key>\n\t<false/>\n");
    text += QStringLiteral("\t<key>Label</key>\n\t<string>%1</string>\n").arg(xmlEscape(label));
    text += QStringLiteral("\t<key>ProgramArguments</key>\n\t<array>\n\t\t<string>%1</string>\n"
                           "\t</array>\n")
                .arg(xmlEscape(executable));
    text += QStringLiteral("\t<key>RunAtLoad</key>\n\t<true/>\n");
    text += QStringLiteral("</dict>\n</plist>\n");
    return text.toUtf8();
}

QByteArray TLAgentFileContent(const QString& executable, const QString& displayName) {
#ifdef __APPLE__
    Q_UNUSED(displayName);
    return TLLaunchAgentPlist(QStringLiteral(TIDE_APP_ID), executable);
#else
    return TLAutostartEntry(executable, displayName);
#endif
}

bool TLLaunchAtLoginEnabled(const QString& agentPath) {
    // Any file there counts, whatever its content.
    return QFileInfo::exists(agentPath) || QFileInfo(agentPath).isSymLink();
}

void TLToggleLaunchAtLogin(const QString& agentPath, const QString& executable,
                           const QString& displayName) {
    if (TLLaunchAtLoginEnabled(agentPath)) {
        QFile::remove(agentPath);
        return;
    }
    if (executable.isEmpty()) return;
    QDir().mkpath(QFileInfo(agentPath).absolutePath());
    QSaveFile file(agentPath);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(TLAgentFileContent(executable, displayName));
    file.commit(); // renamed into place only when complete
}
