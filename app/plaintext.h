// What a device or a file says, shown in a widget as written: a serial number such as
// <img src="/dev/zero"> is data, never markup that the window would follow.
#pragma once

class QLabel;
class QMessageBox;
class QString;
class QWidget;

// A tool tip that shows text as written, its line breaks kept; empty for none. Qt reads a
// tool tip as markup whenever it looks like markup, so the text is escaped and always
// wrapped in a paragraph: escaped text that did not look like markup would be shown with
// its escapes.
QString PlainToolTip(const QString& text);
void SetPlainToolTip(QWidget* widget, const QString& text);

// Label and message box texts as written.
void SetPlainText(QLabel* label, const QString& text);
void SetPlainText(QMessageBox* box, const QString& text);
