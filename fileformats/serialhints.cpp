#include "serialhints.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

bool allDigits(const QString& s)
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

QString withoutLeadingZeros(const QString& digits)
{
    int i = 0;
    while (i < digits.size() - 1 && digits.at(i) == '0')
        ++i;
    return digits.mid(i);
}

// digits rounded half up to its first n digits, the rest as zeros; empty when the rounding
// carries into one more digit (999 to 1000), which then is another number of digits.
QString roundedTo(const QString& digits, int n)
{
    if (n >= digits.size())
        return digits;
    QString head = digits.left(n);
    if (digits.at(n) >= '5') {
        int i = n - 1;
        while (i >= 0 && head.at(i) == '9')
            head[i--] = '0';
        if (i < 0)
            return QString();
        head[i] = QChar(head.at(i).unicode() + 1);
    }
    return head + QString(digits.size() - n, '0');
}

// Without leading or trailing zeros: the digits a number keeps.
QString significant(const QString& digits)
{
    QString kept = withoutLeadingZeros(digits);
    while (kept.size() > 1 && kept.endsWith('0'))
        kept.chop(1);
    return kept;
}

// A serial number of digits as a spreadsheet shows it once it took it for a number: in E
// notation ("1.23456789012346E+018"), with decimals ("12345.0", "12345,00"), or past its 15
// digits of precision ("1234567890123460000"). Its significant digits and the length of its
// whole part; false for anything else.
struct Number {
    QString digits;
    int length = 0;
};
bool readNumber(const QString& planned, Number* number)
{
    static const QRegularExpression exponent(
        QStringLiteral("^([0-9])(?:[.,]([0-9]*))?[Ee]\\+?([0-9]{1,3})$"));
    static const QRegularExpression decimal(QStringLiteral("^([0-9]+)[.,]0*$"));
    constexpr int kPrecision = 15;
    QRegularExpressionMatch m = exponent.match(planned);
    if (m.hasMatch()) {
        number->digits = significant(m.captured(1) + m.captured(2));
        number->length = m.captured(3).toInt() + 1;
        return number->digits.size() <= number->length; // else a fraction
    }
    m = decimal.match(planned);
    QString whole;
    if (m.hasMatch())
        whole = withoutLeadingZeros(m.captured(1));
    else if (allDigits(planned) && planned.size() > kPrecision)
        whole = withoutLeadingZeros(planned);
    if (whole.isEmpty() || whole == QLatin1String("0"))
        return false;
    number->digits = significant(whole);
    number->length = whole.size();
    return true;
}

QString answered(QStringList serials, const QString& why)
{
    serials.sort();
    const int shown = std::min<int>(serials.size(), 3);
    QString names = serials.mid(0, shown).join(QStringLiteral(", "));
    if (serials.size() > shown)
        names += QStringLiteral(" and %1 more").arg(serials.size() - shown);
    return QStringLiteral("%1 answered: %2").arg(names, why);
}
}

QString SpreadsheetAdvice()
{
    return QStringLiteral("(format that column as Text, or use --format xlsx)");
}

QString SpreadsheetChangedSerial(const QString& planned, const QStringList& heard)
{
    const QString text = planned.trimmed();
    QStringList zeros;
    if (allDigits(text)) {
        for (const QString& sn : heard) {
            if (sn != text && allDigits(sn) && sn.startsWith('0') && withoutLeadingZeros(sn) == text)
                zeros << sn;
        }
    }
    if (!zeros.isEmpty())
        return answered(zeros, QStringLiteral("a spreadsheet dropped its leading zeros"));

    Number number;
    if (!readNumber(text, &number))
        return QString();
    QStringList numbers;
    bool rounded = false;
    for (const QString& sn : heard) {
        const QString digits = withoutLeadingZeros(sn);
        if (sn == text || !allDigits(sn) || digits.size() != number.length)
            continue;
        const QString kept = roundedTo(digits, number.digits.size());
        if (!kept.isEmpty() && significant(kept) == number.digits) {
            numbers << sn;
            rounded = rounded || significant(digits) != number.digits;
        }
    }
    if (numbers.isEmpty())
        return QString();
    return answered(numbers,
        rounded
            ? QStringLiteral("a spreadsheet turned it into a number of %1 digits").arg(number.digits.size())
            : QStringLiteral("a spreadsheet turned it into a number"));
}
