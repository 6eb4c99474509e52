// The command line's output of any datagram, read as a reply and as an announcement: each
// accepted answer must read back from CSV (its formula guard taken off) and JSON to the same fields, and the
// table must never carry a control character to the terminal.
#include "fuzztarget.h"

#include "csvreader.h"
#include "csvrecords.h"
#include "devicefields.h"
#include "output.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
void checkEntry(const DeviceFields& device)
{
    const Entry entry { device, QStringLiteral("10.0.0.2:8838"), QStringLiteral("eth0"), 7 };
    const QStringList expected { device.kind == AnswerKind::Reply ? "reply" : "announce",
        device.name.value_or(QString()), device.ip.value_or(QString()), device.sn.value_or(QString()),
        device.id.value_or(QString()), device.configurable ? "true" : "false", entry.from,
        entry.interfaceName };

    QVector<QStringList> records;
    FUZZ_CHECK(ReadCsv(CsvHeader() + CsvRecord(entry), &records));
    FUZZ_CHECK(records.size() == 2 && records.at(1).size() == expected.size());
    // A cell a spreadsheet would run as a formula is written after an apostrophe.
    for (int i = 0; i < expected.size(); ++i)
        FUZZ_CHECK(WithoutFormulaGuard(records.at(1).at(i)) == expected.at(i));

    const QByteArray line = JsonLine(entry);
    FUZZ_CHECK(line.endsWith('\n') && line.count('\n') == 1);
    QJsonParseError error {};
    const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
    FUZZ_CHECK(error.error == QJsonParseError::NoError);
    const auto same = [&](const char* key, const std::optional<QString>& field) {
        const QJsonValue value = object.value(QLatin1String(key));
        return field ? value.isString() && value.toString() == *field : value.isNull();
    };
    FUZZ_CHECK(
        same("name", device.name) && same("ip", device.ip) && same("sn", device.sn) && same("id", device.id));
    FUZZ_CHECK(object.value("configurable").toBool() == device.configurable);

    const QByteArray table = TableText({ entry }).toUtf8();
    FUZZ_CHECK(QString::fromUtf8(table).toUtf8() == table);
    for (const char c : table)
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 || c == '\n');
    FUZZ_CHECK(table.count('\n') == 2);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    for (const Answer& answer : { ReadReplyDatagram(bytes, static_cast<long long>(size)),
             ReadAnnounceDatagram(bytes, static_cast<long long>(size)) }) {
        if (answer.outcome == AnswerOutcome::Accepted)
            checkEntry(answer.device);
    }
    return 0;
}
