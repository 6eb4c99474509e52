#include "myippartlineedit.h"

#include <QFocusEvent>
#include <QIntValidator>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {
// Qt's own integer validator lets 256..999 through as Intermediate and takes a sign or
// a group separator, so an octet field could end up holding "300" or "+1"; an octet is
// plain digits within range or nothing.
class OctetValidator : public QIntValidator {
public:
    OctetValidator(int bottom, int top, QObject* parent)
        : QIntValidator(bottom, top, parent)
    {
    }

    State validate(QString& input, int&) const override
    {
        if (input.isEmpty())
            return Intermediate;
        for (const QChar c : input) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Invalid;
        }
        bool ok = false;
        const int value = input.toInt(&ok);
        if (!ok || value > top())
            return Invalid;
        return value < bottom() ? Intermediate : Acceptable;
    }
};
}

MyIpPartLineEdit::MyIpPartLineEdit(QWidget* parent)
    : QLineEdit(parent)
{
    setMaxLength(3);
    setFrame(false);
    setAlignment(Qt::AlignCenter);
    setValidator(new OctetValidator(0, 255, this));
    // Made before the owner connects to textEdited, so the focus has moved on by the time
    // the owner hears of the edit.
    connect(this, SIGNAL(textEdited(QString)), this, SLOT(text_edited(QString)));
}

MyIpPartLineEdit::~MyIpPartLineEdit() = default;

void MyIpPartLineEdit::handOver()
{
    if (!next)
        return;
    next->setFocus(Qt::OtherFocusReason);
    // whatever the next octet held is overwritten by the digits typed next
    next->selectAll();
}

void MyIpPartLineEdit::focusInEvent(QFocusEvent* event)
{
    selectAll();
    QLineEdit::focusInEvent(event);
}

void MyIpPartLineEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Period && !text().isEmpty())
        handOver();
    // the validator refuses the dot itself, so it is never typed into any field
    QLineEdit::keyPressEvent(event);
}

void MyIpPartLineEdit::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // dropping the focus first makes an already focused field select all again, and the
    // line edit's own press handling is skipped so the click never places the cursor
    clearFocus();
    setFocus(Qt::OtherFocusReason);
    selectAll();
}

void MyIpPartLineEdit::text_edited(const QString& text)
{
    QString candidate = text;
    int pos = 0;
    if (validator()->validate(candidate, pos) != QValidator::Acceptable)
        return;
    // up to 25 a third digit may still follow; from 26 on none can
    const int length = text.length();
    if (length >= 3 || (length == 2 && text.toInt() > 25))
        handOver();
}
