// The octet field and the address editor, driven with keys and clicks as a person would.
#include "myipaddredit.h"
#include "myippartlineedit.h"

#include <QApplication>
#include <QFrame>
#include <QIntValidator>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestIpEdit : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typingHandsOver_data();
    void typingHandsOver();
    void deletingCanHandOver_data();
    void deletingCanHandOver();
    void dotKey_data();
    void dotKey();
    void refusedCharacters_data();
    void refusedCharacters();
    void leftClickSelectsAll();
    void otherButtonsDoNothing_data();
    void otherButtonsDoNothing();
    void programTextKeepsFocus();
    void focusInSelectsAll();

    void typedAddressSignals();
    void emptyingFieldEmitsEditedOnly_data();
    void emptyingFieldEmitsEditedOnly();

    void settextOnEmptyEditor_data();
    void settextOnEmptyEditor();
    void settextOnFilledEditor();
    void settextRejects_data();
    void settextRejects();

    void checkvalidFollowsFields();
    void layout();

private:
    MyIpPartLineEdit* focused() const;
    int focusedIndex() const;
    void click(int part);
    void type(const QString& keys);

    std::unique_ptr<QWidget> window;
    MyIpAddrEdit* edit = nullptr;
    QList<MyIpPartLineEdit*> parts;
};

void TestIpEdit::init()
{
    window = std::make_unique<QWidget>();
    window->resize(400, 80);
    edit = new MyIpAddrEdit(window.get());
    edit->move(10, 10);
    window->show();
    QApplication::setActiveWindow(window.get());
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    parts = edit->findChildren<MyIpPartLineEdit*>();
    QCOMPARE(parts.size(), 4);
}

void TestIpEdit::cleanup()
{
    parts.clear();
    edit = nullptr;
    window.reset();
}

MyIpPartLineEdit* TestIpEdit::focused() const
{
    return qobject_cast<MyIpPartLineEdit*>(QApplication::focusWidget());
}

int TestIpEdit::focusedIndex() const
{
    return parts.indexOf(focused());
}

void TestIpEdit::click(int part)
{
    QTest::mouseClick(
        parts.at(part), Qt::LeftButton, Qt::NoModifier, QPoint(6, parts.at(part)->height() / 2));
}

// Keys go wherever the focus is, as they would from a keyboard.
void TestIpEdit::type(const QString& keys)
{
    for (const QChar c : keys) {
        QWidget* target = QApplication::focusWidget();
        QVERIFY2(target, "no widget has the focus");
        QTest::keyClick(target, c.toLatin1());
    }
}

void TestIpEdit::typingHandsOver_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QList<int>>("focusAfterEachKey");

    QTest::newRow("192 moves after the third digit") << "192" << QList<int> { 0, 0, 1 };
    QTest::newRow("30 moves after two digits") << "30" << QList<int> { 0, 1 };
    QTest::newRow("26 moves after two digits") << "26" << QList<int> { 0, 1 };
    QTest::newRow("255 waits after 25") << "255" << QList<int> { 0, 0, 1 };
    QTest::newRow("007 moves only at three characters") << "007" << QList<int> { 0, 0, 1 };
    QTest::newRow("05 stays") << "05" << QList<int> { 0, 0 };
}

void TestIpEdit::typingHandsOver()
{
    QFETCH(QString, keys);
    QFETCH(QList<int>, focusAfterEachKey);

    parts[1]->setText("88");
    click(0);
    for (int i = 0; i < keys.size(); ++i) {
        type(keys.mid(i, 1));
        QCOMPARE(focusedIndex(), focusAfterEachKey.at(i));
    }
    QCOMPARE(parts[0]->text(), keys);
    QCOMPARE(parts[1]->text(), QString("88"));
    if (focusAfterEachKey.last() == 1) {
        // the next octet is selected, so the next digit replaces it
        QCOMPARE(parts[1]->selectedText(), QString("88"));
        type("4");
        QCOMPARE(parts[1]->text(), QString("4"));
    }
}

void TestIpEdit::deletingCanHandOver_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("left");
    QTest::addColumn<int>("focus");

    QTest::newRow("199 less its first digit moves") << "199" << 0 << int(Qt::Key_Delete) << "99" << 1;
    QTest::newRow("125 less its last digit stays") << "125" << 3 << int(Qt::Key_Backspace) << "12" << 0;
    QTest::newRow("105 less its middle digit stays") << "105" << 2 << int(Qt::Key_Backspace) << "15" << 0;
    QTest::newRow("007 less a zero stays") << "007" << 0 << int(Qt::Key_Delete) << "07" << 0;
}

void TestIpEdit::deletingCanHandOver()
{
    QFETCH(QString, typed);
    QFETCH(int, cursor);
    QFETCH(int, key);
    QFETCH(QString, left);
    QFETCH(int, focus);

    click(0);
    type(typed);
    click(0);
    QTest::keyClick(parts[0], Qt::Key_Home);
    for (int i = 0; i < cursor; ++i)
        QTest::keyClick(parts[0], Qt::Key_Right);
    QTest::keyClick(parts[0], Qt::Key(key));
    QCOMPARE(parts[0]->text(), left);
    QCOMPARE(focusedIndex(), focus);
}

void TestIpEdit::dotKey_data()
{
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("focus");
    QTest::addColumn<int>("edits");

    QTest::newRow("empty field stays") << 0 << "" << int(Qt::NoModifier) << 0 << 0;
    QTest::newRow("filled first field moves") << 0 << "1" << int(Qt::NoModifier) << 1 << 1;
    QTest::newRow("keypad dot moves too") << 0 << "1" << int(Qt::KeypadModifier) << 1 << 1;
    QTest::newRow("filled third field moves") << 2 << "12" << int(Qt::NoModifier) << 3 << 2;
    QTest::newRow("fourth field has nowhere to go") << 3 << "12" << int(Qt::NoModifier) << 3 << 2;
}

void TestIpEdit::dotKey()
{
    QFETCH(int, part);
    QFETCH(QString, typed);
    QFETCH(int, modifiers);
    QFETCH(int, focus);
    QFETCH(int, edits);

    if (part < 3)
        parts[part + 1]->setText("77");
    QSignalSpy edited(edit, &MyIpAddrEdit::textedited);
    click(part);
    type(typed);
    QTest::keyClick(focused(), Qt::Key_Period, Qt::KeyboardModifiers(modifiers));

    QCOMPARE(focusedIndex(), focus);
    QCOMPARE(parts[part]->text(), typed);
    if (part < 3) {
        QCOMPARE(parts[part + 1]->text(), QString("77"));
        if (focus == part + 1)
            QCOMPARE(parts[part + 1]->selectedText(), QString("77"));
    }
    // the dot itself is no edit
    QCOMPARE(edited.size(), edits);
}

void TestIpEdit::refusedCharacters_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("kept");

    QTest::newRow("letters") << "a1b" << QString("1");
    QTest::newRow("minus") << "-5" << QString("5");
    QTest::newRow("plus") << "+5" << QString("5");
    QTest::newRow("blank and comma") << "1 ,2" << QString("12");
    QTest::newRow("256 above range") << "256" << QString("25");
    QTest::newRow("300 above range") << "300" << QString("30");
    QTest::newRow("fourth character") << "1234" << QString("123");
}

void TestIpEdit::refusedCharacters()
{
    QFETCH(QString, keys);
    QFETCH(QString, kept);

    // the fourth field has no successor, so every key stays in it
    click(3);
    type(keys);
    QCOMPARE(parts[3]->text(), kept);
    QCOMPARE(focusedIndex(), 3);
}

void TestIpEdit::leftClickSelectsAll()
{
    click(0);
    type("12");
    QVERIFY(!parts[0]->hasSelectedText());

    click(0);
    QCOMPARE(focusedIndex(), 0);
    QCOMPARE(parts[0]->selectedText(), QString("12"));
    type("7");
    QCOMPARE(parts[0]->text(), QString("7"));

    parts[2]->setText("33");
    click(2);
    QCOMPARE(focusedIndex(), 2);
    QCOMPARE(parts[2]->selectedText(), QString("33"));
}

void TestIpEdit::otherButtonsDoNothing_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
}

void TestIpEdit::otherButtonsDoNothing()
{
    QFETCH(int, button);

    click(0);
    type("12");
    QTest::keyClick(parts[0], Qt::Key_Left);
    QTest::mouseClick(parts[0], Qt::MouseButton(button), Qt::NoModifier, QPoint(6, parts[0]->height() / 2));
    QCOMPARE(focusedIndex(), 0);
    QVERIFY(!parts[0]->hasSelectedText());
    QCOMPARE(parts[0]->cursorPosition(), 1);
    QCOMPARE(parts[0]->text(), QString("12"));
}

void TestIpEdit::programTextKeepsFocus()
{
    click(0);
    parts[0]->setText("192");
    QCOMPARE(focusedIndex(), 0);
    parts[0]->setText("99");
    QCOMPARE(focusedIndex(), 0);
    edit->settext("10.20.30.40");
    QCOMPARE(focusedIndex(), 0);
}

void TestIpEdit::focusInSelectsAll()
{
    edit->settext("1.2.3.4");
    click(0);
    for (int i = 1; i < 4; ++i) {
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focusedIndex(), i);
        QCOMPARE(parts[i]->selectedText(), QString::number(i + 1));
    }
    QTest::keyClick(focused(), Qt::Key_Backtab);
    QCOMPARE(focusedIndex(), 2);
    QCOMPARE(parts[2]->selectedText(), QString("3"));

    parts[0]->setFocus();
    QCOMPARE(parts[0]->selectedText(), QString("1"));
}

void TestIpEdit::typedAddressSignals()
{
    QSignalSpy edited(edit, &MyIpAddrEdit::textedited);
    QSignalSpy changed(edit, &MyIpAddrEdit::textchanged);
    QStringList both;
    QList<int> focusAtEdit;
    connect(edit, &MyIpAddrEdit::textedited, this, [&](const QString& t) {
        both << "edited " + t;
        focusAtEdit << focusedIndex();
    });
    connect(edit, &MyIpAddrEdit::textchanged, this, [&](const QString& t) { both << "changed " + t; });

    click(0);
    type("192.168.1.1");

    const QStringList typed { "1...", "19...", "192...", "192.1..", "192.16..", "192.168..", "192.168.1.",
        "192.168.1.1" };
    QStringList editedTexts;
    for (const QList<QVariant>& args : qAsConst(edited))
        editedTexts << args.at(0).toString();
    QCOMPARE(editedTexts, typed);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), QString("192.168.1.1"));
    // the field has already handed over when the editor reports a completed octet
    QCOMPARE(focusAtEdit, (QList<int> { 0, 0, 1, 1, 1, 2, 2, 3 }));

    type("0");
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed.at(1).at(0).toString(), QString("192.168.1.10"));

    QStringList expected;
    for (const QString& t : typed)
        expected << "edited " + t;
    expected << "changed 192.168.1.1"
             << "edited 192.168.1.10"
             << "changed 192.168.1.10";
    QCOMPARE(both, expected);
    QCOMPARE(edit->text(), QString("192.168.1.10"));
}

void TestIpEdit::emptyingFieldEmitsEditedOnly_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");

    QTest::newRow("second octet of a full address") << "192.168.1.1" << 1 << QString() << "192..1.1";
    QTest::newRow("fourth octet of a full address") << "192.168.1.1" << 3 << QString() << "192.168.1.";
    QTest::newRow("only digit of an empty editor") << "" << 0 << QString("5") << "...";
}

void TestIpEdit::emptyingFieldEmitsEditedOnly()
{
    QFETCH(QString, address);
    QFETCH(int, part);
    QFETCH(QString, typed);
    QFETCH(QString, after);

    edit->settext(address);
    click(part);
    type(typed);
    QSignalSpy edited(edit, &MyIpAddrEdit::textedited);
    QSignalSpy changed(edit, &MyIpAddrEdit::textchanged);

    QTest::keyClick(focused(), Qt::Key_Backspace);
    QCOMPARE(edited.size(), 1);
    QCOMPARE(edited.at(0).at(0).toString(), after);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(focusedIndex(), part);
    QVERIFY(!edit->checkvalid());
}

void TestIpEdit::settextOnEmptyEditor_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("octets");

    QTest::newRow("plain") << "192.168.1.1" << QStringList { "192", "168", "1", "1" };
    QTest::newRow("leading zeros kept") << "010.001.000.255" << QStringList { "010", "001", "000", "255" };
    QTest::newRow("all zero") << "0.0.0.0" << QStringList { "0", "0", "0", "0" };
    QTest::newRow("upper bounds") << "255.249.199.99" << QStringList { "255", "249", "199", "99" };
}

void TestIpEdit::settextOnEmptyEditor()
{
    QFETCH(QString, address);
    QFETCH(QStringList, octets);

    QSignalSpy edited(edit, &MyIpAddrEdit::textedited);
    QSignalSpy changed(edit, &MyIpAddrEdit::textchanged);
    edit->settext(address);

    for (int i = 0; i < 4; ++i)
        QCOMPARE(parts[i]->text(), octets.at(i));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), address);
    QCOMPARE(edited.size(), 0);
    QCOMPARE(edit->text(), address);
    QVERIFY(edit->checkvalid());
}

void TestIpEdit::settextOnFilledEditor()
{
    edit->settext("10.0.0.1");
    QSignalSpy edited(edit, &MyIpAddrEdit::textedited);
    QSignalSpy changed(edit, &MyIpAddrEdit::textchanged);

    // one report per octet that really changes, each with the octets set so far
    edit->settext("192.168.1.1");
    QStringList texts;
    for (const QList<QVariant>& args : qAsConst(changed))
        texts << args.at(0).toString();
    QCOMPARE(texts, (QStringList { "192.0.0.1", "192.168.0.1", "192.168.1.1" }));

    edit->settext("192.168.1.1");
    QCOMPARE(changed.size(), 3);
    QCOMPARE(edited.size(), 0);
}

void TestIpEdit::settextRejects_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("three octets") << "192.168.1";
    QTest::newRow("five octets") << "1.2.3.4.5";
    QTest::newRow("trailing dot") << "192.168.1.1.";
    QTest::newRow("256") << "256.1.1.1";
    QTest::newRow("four digits") << "1.2.3.0255";
    QTest::newRow("leading blank") << " 192.168.1.1";
    QTest::newRow("trailing blank") << "192.168.1.1 ";
    QTest::newRow("empty octet") << "1..2.3";
    QTest::newRow("commas") << "192,168,1,1";
    QTest::newRow("sign") << "+1.2.3.4";
    QTest::newRow("empty") << "";
}

void TestIpEdit::settextRejects()
{
    QFETCH(QString, text);

    edit->settext("10.0.0.1");
    QSignalSpy edited(edit, &MyIpAddrEdit::textedited);
    QSignalSpy changed(edit, &MyIpAddrEdit::textchanged);
    edit->settext(text);

    for (MyIpPartLineEdit* part : qAsConst(parts))
        QVERIFY(part->text().isEmpty());
    QCOMPARE(changed.size(), 0);
    QCOMPARE(edited.size(), 0);
    QCOMPARE(edit->text(), QString("0.0.0.0"));
    QVERIFY(!edit->checkvalid());
}

void TestIpEdit::checkvalidFollowsFields()
{
    auto frame = edit->findChild<QFrame*>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(frame);

    QVERIFY(!edit->checkvalid());
    QCOMPARE(frame->styleSheet(), QString("QFrame{border: 2px solid red}"));
    QCOMPARE(edit->text(), QString("0.0.0.0"));

    click(0);
    type("1.2.3.4");
    QVERIFY(edit->checkvalid());
    QCOMPARE(frame->styleSheet(), QString("QFrame{border: 2px solid black}"));

    click(1);
    QTest::keyClick(focused(), Qt::Key_Backspace);
    QVERIFY(!edit->checkvalid());
    QCOMPARE(frame->styleSheet(), QString("QFrame{border: 2px solid red}"));

    type("7");
    QVERIFY(edit->checkvalid());
    QCOMPARE(frame->styleSheet(), QString("QFrame{border: 2px solid black}"));
    QCOMPARE(edit->text(), QString("1.7.3.4"));
}

static void checkFont(const QWidget* widget)
{
    QCOMPARE(widget->font().family(), QString("Abyssinica SIL"));
    QCOMPARE(widget->font().pointSize(), 10);
    QCOMPARE(widget->font().weight(), int(QFont::Normal));
    QVERIFY(!widget->font().italic());
}

void TestIpEdit::layout()
{
    auto frame = edit->findChild<QFrame*>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(frame);
    QCOMPARE(frame->frameShape(), QFrame::Box);
    QCOMPARE(frame->geometry(), QRect(0, 0, 300, 25));
    QCOMPARE(frame->styleSheet(), QString("QFrame{border: 1px solid black}"));

    const int partX[] = { 2, 46, 92, 138 };
    for (int i = 0; i < 4; ++i) {
        MyIpPartLineEdit* part = parts[i];
        QCOMPARE(part->parentWidget(), static_cast<QWidget*>(frame));
        QCOMPARE(part->geometry(), QRect(partX[i], 1, 46, 23));
        QVERIFY(!part->hasFrame());
        QCOMPARE(part->maxLength(), 3);
        QCOMPARE(part->alignment(), Qt::AlignCenter);
        checkFont(part);
        auto validator = qobject_cast<const QIntValidator*>(part->validator());
        QVERIFY(validator);
        QCOMPARE(validator->bottom(), 0);
        QCOMPARE(validator->top(), 255);
        QCOMPARE(validator->parent(), static_cast<QObject*>(part));
        QCOMPARE(part->next, i < 3 ? parts[i + 1] : nullptr);
    }

    const QList<QLabel*> dots = frame->findChildren<QLabel*>();
    QCOMPARE(dots.size(), 3);
    const int dotX[] = { 38, 84, 130 };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(dots[i]->text(), QString(" ."));
        QCOMPARE(dots[i]->geometry(), QRect(dotX[i], 6, 12, 12));
        QCOMPARE(dots[i]->styleSheet(), QString("QFrame{border: 0px solid red}"));
        QCOMPARE(dots[i]->alignment(), Qt::AlignCenter);
        checkFont(dots[i]);
    }

    edit->resizeedit();
    QCOMPARE(frame->geometry(), QRect(0, 0, 186, 25));
    QCOMPARE(edit->size(), QSize(186, 25));
}

QTEST_MAIN(TestIpEdit)
#include "tst_ipedit.moc"
