#include "desktop_qt/manual_markdown.h"

#include <QStringList>

QString ManualToMarkdown(const QString &text, QString *title)
{
    QStringList out;
    bool head = true, definition = false;
    for (const QString &line : text.split('\n')) {
        if (head && line.startsWith("% ")) {
            if (title->isEmpty()) {
                *title = line.mid(2).trimmed();
                out << "# " + *title;
            } else {
                out << "*" + line.mid(2).trimmed() + "*";
            }
            out << "";
            continue;
        }
        head = false;
        if (line.startsWith(":   ")) {
            definition = true;
            out << "> " + line.mid(4);
        } else if (definition && line.startsWith("    ")) {
            out << "> " + line.mid(4);
        } else {
            definition = false;
            out << line;
        }
    }
    return out.join('\n');
}

QString ManualAnchor(const QString &heading)
{
    QString anchor;
    for (QChar c : heading.toLower()) {
        if (c.isLetterOrNumber() || c == '-')
            anchor += c;
        else if (c == ' ')
            anchor += '-';
    }
    return anchor;
}
