#include "myipaddredit.h"

#include "myippartlineedit.h"

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QRegExp>
#include <QRegExpValidator>

namespace {
const char kBorderThin[] = "QFrame{border: 1px solid black}";
const char kBorderValid[] = "QFrame{border: 2px solid black}";
const char kBorderInvalid[] = "QFrame{border: 2px solid red}";
// the dots are QFrames too and would otherwise pick up the frame's border
const char kDotStyle[] = "QFrame{border: 0px solid red}";

QFont editFont()
{
    return QFont("Abyssinica SIL", 10, 50, false);
}
}

MyIpAddrEdit::MyIpAddrEdit(QWidget* parent)
    : QWidget(parent)
{
    frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(0, 0, 300, 25);
    frame->setStyleSheet(kBorderThin);

    part1 = new MyIpPartLineEdit(frame);
    part1->setFrame(false);
    part2 = new MyIpPartLineEdit(frame);
    part2->setFrame(false);
    part3 = new MyIpPartLineEdit(frame);
    part3->setFrame(false);
    part4 = new MyIpPartLineEdit(frame);
    part4->setFrame(false);

    dot1 = new QLabel(frame);
    dot1->setStyleSheet(kDotStyle);
    dot2 = new QLabel(frame);
    dot2->setStyleSheet(kDotStyle);
    dot3 = new QLabel(frame);
    dot3->setStyleSheet(kDotStyle);

    // part1 starts at 2 with the common width, so it overlaps part2 by two pixels
    part1->setGeometry(2, 1, 46, 23);
    part2->setGeometry(46, 1, 46, 23);
    part3->setGeometry(92, 1, 46, 23);
    part4->setGeometry(138, 1, 46, 23);
    for (MyIpPartLineEdit* part : { part1, part2, part3, part4 })
        part->setFont(editFont());

    const int dotX[] = { 38, 84, 130 };
    QLabel* const dots[] = { dot1, dot2, dot3 };
    for (int i = 0; i < 3; ++i) {
        dots[i]->setText(" .");
        dots[i]->setFont(editFont());
        dots[i]->setGeometry(dotX[i], 6, 12, 12);
        dots[i]->setAlignment(Qt::AlignCenter);
    }

    QWidget::setTabOrder(part1, part2);
    QWidget::setTabOrder(part2, part3);
    QWidget::setTabOrder(part3, part4);

    part1->next = part2;
    part2->next = part3;
    part3->next = part4;

    for (MyIpPartLineEdit* part : { part1, part2, part3, part4 })
        connect(part, SIGNAL(textChanged(QString)), this, SLOT(textchangedslot(QString)));
    for (MyIpPartLineEdit* part : { part1, part2, part3, part4 })
        connect(part, SIGNAL(textEdited(QString)), this, SLOT(texteditedslot(QString)));
}

MyIpAddrEdit::~MyIpAddrEdit() = default;

QString MyIpAddrEdit::assemble(bool* complete) const
{
    const QString a = part1->text();
    const QString b = part2->text();
    const QString c = part3->text();
    const QString d = part4->text();
    *complete = !a.isEmpty() && !b.isEmpty() && !c.isEmpty() && !d.isEmpty();
    return QString("%1.%2.%3.%4").arg(a, b, c, d);
}

QString MyIpAddrEdit::text()
{
    const QString dotted = assemble(&valid);
    return valid ? dotted : QString("0.0.0.0");
}

void MyIpAddrEdit::settext(const QString& text)
{
    QStringList octets { QString(), QString(), QString(), QString() };

    QRegExpValidator validator(
        QRegExp("((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?)", Qt::CaseSensitive,
            QRegExp::RegExp));
    QString candidate = text;
    int pos = 0;
    if (validator.validate(candidate, pos) == QValidator::Acceptable)
        octets = text.split('.');

    // field by field, so each real change reports its own mix of new and old octets
    part1->setText(octets.at(0));
    part2->setText(octets.at(1));
    part3->setText(octets.at(2));
    part4->setText(octets.at(3));
}

bool MyIpAddrEdit::checkvalid()
{
    frame->setStyleSheet(valid ? kBorderValid : kBorderInvalid);
    return valid;
}

void MyIpAddrEdit::resizeedit()
{
    frame->setGeometry(0, 0, 186, 25);
    resize(186, 25);
}

void MyIpAddrEdit::textchangedslot(const QString&)
{
    const QString dotted = assemble(&valid);
    if (valid)
        emit textchanged(dotted);
}

void MyIpAddrEdit::texteditedslot(const QString&)
{
    const QString dotted = assemble(&valid);
    emit textedited(dotted);
}
