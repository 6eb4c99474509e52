// Any bytes as a plan file: the reader and the checks must never crash, and what they
// answer must be printable as one line, or a list of devices that passes every check.
#include "fuzztarget.h"

#include "addressrules.h"
#include "deviceframe.h"
#include "plan.h"

#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QList<Assignment> plan;
    PlanError error;
    // Half the inputs as on a Chinese Windows, where a file that is not UTF-8 is read as GBK.
    const TextEncoding encoding { QByteArray(), size % 2 ? QByteArray("GBK") : QByteArray() };
    if (!ReadPlan(bytes, encoding, QStringLiteral("255.255.255.0"), QString(), &plan, &error)
        || !CheckAssignments(plan, &error)) {
        FUZZ_CHECK(error.line >= 0 && !error.text.isEmpty());
        for (const QChar c : error.text)
            FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f);
        return 0;
    }
    FUZZ_CHECK(!plan.isEmpty());
    QSet<QString> serials;
    QSet<uint32_t> addresses;
    for (const Assignment& a : plan) {
        FUZZ_CHECK(!a.sn.isEmpty() && a.line >= 2);
        FUZZ_CHECK(CheckNetworkSettings(a.ip, a.mask, a.gateway) == SettingsProblem::None);
        serials.insert(a.sn);
        addresses.insert(a.ip);
        const QByteArray frame = AssignmentFrame(a);
        FUZZ_CHECK(!frame.isEmpty() && frame.size() <= kFrameBufferSize);
    }
    FUZZ_CHECK(serials.size() == plan.size() && addresses.size() == plan.size());
    return 0;
}
