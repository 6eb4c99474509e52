// Any bytes as a plan file: the reader and the checks must never crash, and what they
// answer must be printable as one line, or a list of devices that passes every check; then
// the list held against answers that name some of its serial numbers, some changed.
#include "fuzztarget.h"

#include "addressrules.h"
#include "deviceframe.h"
#include "plan.h"
#include "planmatch.h"

#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QList<Assignment> plan;
    PlanError error;
    // Half the inputs as on a Chinese Windows, where a file that is not UTF-8 is read as GBK.
    const TextEncoding encoding { QByteArray(), size % 2 ? QByteArray("GBK") : QByteArray() };
    // A third as the window reads them: a row may lack a mask.
    const bool window = size % 3 == 0;
    if (!ReadPlan(bytes, encoding, window ? QString() : QStringLiteral("255.255.255.0"), QString(), &plan,
            &error, nullptr, window ? MaskMissing::Allowed : MaskMissing::Refused)
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
        FUZZ_CHECK(
            a.noMask ? window : CheckNetworkSettings(a.ip, a.mask, a.gateway) == SettingsProblem::None);
        serials.insert(a.sn);
        addresses.insert(a.ip);
        const QByteArray frame = AssignmentFrame(a);
        FUZZ_CHECK(!frame.isEmpty() && frame.size() <= kFrameBufferSize);
    }
    FUZZ_CHECK(serials.size() == plan.size() && addresses.size() == plan.size());

    QList<FoundAnswer> found;
    for (int k = 0; k < plan.size(); k += 2)
        found.append({ (k % 4 ? QStringLiteral("00") : QString()) + plan.at(k).sn, QStringLiteral("10.0.0.1"),
            1 + k % 3, k % 6 != 4, k % 5 != 3 });
    const PlanMatch match = MatchPlan(plan, found);
    FUZZ_CHECK(match.lines.size() == plan.size());
    for (const PlanLine& line : match.lines)
        FUZZ_CHECK(line.state != PlanState::Set || (line.found >= 0 && found.at(line.found).configurable));
    return 0;
}
