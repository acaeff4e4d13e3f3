// The user manual's Markdown as Qt's reader takes it. The manual is written
// for a reader that knows a title block ("% Title" lines) and definition
// lists (a term, then ":   text"); Qt's knows neither, so they become a
// heading and indented quotes. Shared by the PDF made at build time and
// the manual window.
#pragma once

#include <QString>

// The converted text; the title (the first "% " line) goes to *title.
QString ManualToMarkdown(const QString &text, QString *title);

// The anchor a heading gets ("Finding the port" -> "finding-the-port"), as
// links inside the manual name it.
QString ManualAnchor(const QString &heading);
