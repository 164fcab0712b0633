#include "refclock/settingsfile.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>

namespace SettingsFile {

namespace {

// The options line's value without the quotes around it, split as systemd splits it.
QStringList optionsOf(const QString &value)
{
    QString unquoted = value.trimmed();
    if (unquoted.size() >= 2 && (unquoted.front() == u'"' || unquoted.front() == u'\'')
        && unquoted.back() == unquoted.front())
        unquoted = unquoted.mid(1, unquoted.size() - 2);
    return QProcess::splitCommand(unquoted);
}

QStringList replaceDelay(QStringList options, const QString &delay)
{
    for (qsizetype i = 0; i < options.size();) {
        if (options.at(i) == u"--delay")
            options.remove(i, qMin<qsizetype>(2, options.size() - i));
        else if (options.at(i).startsWith(QStringLiteral("--delay=")))
            options.removeAt(i);
        else
            ++i;
    }
    return options << QStringLiteral("--delay") << delay;
}

QString optionsLine(const QStringList &options)
{
    return QStringLiteral("%1=\"%2\"").arg(OptionsVariable, options.join(u' '));
}

} // namespace

QString withDelay(const QString &text, const QString &delay, const QStringList &defaultOptions)
{
    static const QRegularExpression assignment(
        QStringLiteral(R"(^\s*(?:export\s+)?%1=(.*)$)").arg(OptionsVariable));
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    bool found = false;
    for (QString &line : lines) {
        const QRegularExpressionMatch match = assignment.match(line);
        if (!match.hasMatch())
            continue;
        line = optionsLine(replaceDelay(optionsOf(match.captured(1)), delay));
        found = true;
    }
    if (!found)
        lines.append(optionsLine(replaceDelay(defaultOptions, delay)));
    return lines.join(u'\n') + u'\n';
}

bool saveDelay(const QString &path, const QString &delay, const QStringList &defaultOptions,
               QString *error)
{
    QString text;
    QFile current(path);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly)) {
            *error = current.errorString();
            return false;
        }
        text = QString::fromUtf8(current.readAll());
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.write(withDelay(text, delay, defaultOptions).toUtf8());
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace SettingsFile
