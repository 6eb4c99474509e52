#include "plaintext.h"

#include <QLabel>
#include <QMessageBox>
#include <QString>
#include <QWidget>

QString PlainToolTip(const QString& text)
{
    if (text.isEmpty())
        return QString();
    // pre-wrap keeps the line breaks and runs of spaces, and still wraps a long line.
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void SetPlainToolTip(QWidget* widget, const QString& text)
{
    widget->setToolTip(PlainToolTip(text));
}

void SetPlainText(QLabel* label, const QString& text)
{
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
}

void SetPlainText(QMessageBox* box, const QString& text)
{
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
}
