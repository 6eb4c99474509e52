// The word on a serial number that a spreadsheet changed, as data rows of the plain
// function that chooses it.
#include "serialhints.h"

#include <QtTest>

class TestSerialHints : public QObject {
    Q_OBJECT
private slots:
    void hint_data();
    void hint();
};

void TestSerialHints::hint_data()
{
    QTest::addColumn<QString>("planned");
    QTest::addColumn<QStringList>("heard");
    QTest::addColumn<QString>("hint"); // empty: plain "not found"
    const QStringList heard { "0012345", "00777", "1234567890123456789", "SN0001", "12346", "007" };
    QTest::newRow("leading zeros dropped")
        << "12345" << heard << "0012345 answered: a spreadsheet dropped its leading zeros";
    QTest::newRow("two zeros of a short one")
        << "777" << heard << "00777 answered: a spreadsheet dropped its leading zeros";
    QTest::newRow("one digit left") << "7" << heard
                                    << "007 answered: a spreadsheet dropped its leading zeros";
    QTest::newRow("E notation as LibreOffice saves it")
        << "1.23456789012346E+018" << heard
        << "1234567890123456789 answered: a spreadsheet turned it into a number of 15 digits";
    QTest::newRow("E notation with a decimal comma")
        << "1,23456789012346E+18" << heard
        << "1234567890123456789 answered: a spreadsheet turned it into a number of 15 digits";
    QTest::newRow("15 digits kept, the rest zeros")
        << "1234567890123460000" << heard
        << "1234567890123456789 answered: a spreadsheet turned it into a number of 15 digits";
    QTest::newRow("decimals added") << "12346.0" << heard
                                    << "12346 answered: a spreadsheet turned it into a number";
    QTest::newRow("decimals added to one with zeros")
        << "12345,00" << heard << "0012345 answered: a spreadsheet turned it into a number";
    QTest::newRow("short E notation, several devices")
        << "1.2E+4" << QStringList { "12345", "11999", "12499", "12500" }
        << "11999, 12345, 12499 answered: a spreadsheet turned it into a number of 2 digits";
    QTest::newRow("a plain typo") << "12344" << heard << "";
    QTest::newRow("a short digit string is no number a spreadsheet rounded")
        << "12000" << QStringList { "12001" } << "";
    QTest::newRow("E notation of another length") << "1.2345E+5" << heard << "";
    QTest::newRow("E notation with a fraction") << "1.2345E+2" << QStringList { "123" } << "";
    QTest::newRow("letters are not digits") << "SN1" << heard << "";
    QTest::newRow("zeros are not dropped from letters") << "1" << QStringList { "0SN1", "01A" } << "";
    QTest::newRow("rounding that carries into another digit") << "1E+3" << QStringList { "999" } << "";
}

void TestSerialHints::hint()
{
    QFETCH(QString, planned);
    QFETCH(QStringList, heard);
    QFETCH(QString, hint);
    QCOMPARE(SpreadsheetChangedSerial(planned, heard), hint);
}

QTEST_APPLESS_MAIN(TestSerialHints)
#include "tst_serialhints.moc"
