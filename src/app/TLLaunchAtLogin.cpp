#include "app/TLLaunchAtLogin.h"

#include "platform/TLBuildConfig.h"
#include "platform/TLLoginItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QXmlStreamReader>

QString TLAgentPath() {
    return TLSystemLoginItem().path;
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

// A start-at-login file is a few hundred bytes; anything much larger is not one of ours.
constexpr qint64 kMaxAgentFileSize = 64 * 1024;

bool writeAgentFile(const QString& agentPath, const QString& executable,
                    const QString& displayName);

} // namespace

QByteArray TLAutostartEntry(const QString& executable, const QString& displayName) {
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=") + escapeValue(displayName) + u'\n';
    text += QStringLiteral("Comment=Memory and energy monitor in the system tray\n");
    text += QStringLiteral("Icon=" TIDE_APP_ID "\n");
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
    if (TLSystemLoginItem().format == TLLoginItemFormat::LaunchAgent)
        return TLLaunchAgentPlist(QStringLiteral(TIDE_APP_ID), executable);
    return TLAutostartEntry(executable, displayName);
}

namespace {
bool writeAgentFile(const QString& agentPath, const QString& executable,
                    const QString& displayName) {
    QDir().mkpath(QFileInfo(agentPath).absolutePath());
    QSaveFile file(agentPath);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(TLAgentFileContent(executable, displayName));
    return file.commit(); // renamed into place only when complete
}
} // namespace

bool TLLaunchAtLoginEnabled(const QString& agentPath) {
    // Any file there counts, whatever its content.
    if (agentPath.isEmpty()) return false;
    return QFileInfo::exists(agentPath) || QFileInfo(agentPath).isSymLink();
}

void TLToggleLaunchAtLogin(const QString& agentPath, const QString& executable,
                           const QString& displayName) {
    if (TLLaunchAtLoginEnabled(agentPath)) {
        QFile::remove(agentPath);
        return;
    }
    // Without a place for the entry (no home) nothing is written anywhere.
    if (executable.isEmpty() || agentPath.isEmpty()) return;
    writeAgentFile(agentPath, executable, displayName);
}

QString TLAutostartProgram(const QByteArray& entry) {
    bool inMainGroup = false;
    for (const QByteArray& rawLine : entry.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup || !line.startsWith("Exec")) continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0 || line.left(eq).trimmed() != "Exec") continue;
        const QString value = QString::fromUtf8(line.mid(eq + 1)).trimmed();
        // String-level escapes first, then the quoting of the first argument.
        QString unescaped;
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (value[i] == u'\\' && i + 1 < value.size()) {
                const QChar n = value[++i];
                unescaped += n == u's'   ? QChar(u' ')
                             : n == u'n' ? QChar(u'\n')
                             : n == u't' ? QChar(u'\t')
                             : n == u'r' ? QChar(u'\r')
                                         : n;
            } else {
                unescaped += value[i];
            }
        }
        QString program;
        if (unescaped.startsWith(u'"')) {
            for (qsizetype i = 1; i < unescaped.size() && unescaped[i] != u'"'; ++i) {
                if (unescaped[i] == u'\\' && i + 1 < unescaped.size()) ++i;
                program += unescaped[i];
            }
        } else {
            program = unescaped.section(u' ', 0, 0);
        }
        return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return {};
}

QString TLLaunchAgentProgram(const QByteArray& plist) {
    QXmlStreamReader xml(plist);
    bool afterKey = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == QLatin1String("key")) {
            afterKey = xml.readElementText() == QLatin1String("ProgramArguments");
        } else if (afterKey && xml.name() == QLatin1String("string")) {
            return xml.readElementText();
        } else if (xml.name() != QLatin1String("array")) {
            afterKey = false;
        }
    }
    return {};
}

QString TLAgentFileProgram(const QByteArray& content) {
    if (TLSystemLoginItem().format == TLLoginItemFormat::LaunchAgent)
        return TLLaunchAgentProgram(content);
    return TLAutostartProgram(content);
}

bool TLRepairLaunchAtLogin(const QString& agentPath, const QString& executable,
                           const QString& displayName) {
    if (executable.isEmpty() || agentPath.isEmpty()) return false;
    QFile file(agentPath);
    if (file.size() > kMaxAgentFileSize || !file.open(QIODevice::ReadOnly)) return false;
    const QString program = TLAgentFileProgram(file.read(kMaxAgentFileSize));
    file.close();
    if (program.isEmpty() || QDir::isRelativePath(program) || QFileInfo::exists(program) ||
        program == executable)
        return false;
    return writeAgentFile(agentPath, executable, displayName);
}
