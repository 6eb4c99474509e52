// Which adapters are tunnels, as Windows tells it; Linux marks them point-to-point itself.
#ifdef _WIN32
#include "adapters.h"

#include "netcompat.h"

#include <iphlpapi.h>

#include <vector>

QSet<int> TunnelAdapterIndexes()
{
    QSet<int> tunnels;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the two calls: ask again a few times.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR)
        return tunnels; // nothing known: the flags that Qt reads decide alone
    for (auto a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
        const QString description = a->Description ? QString::fromWCharArray(a->Description) : QString();
        // QNetworkInterface::index() is the IPv4 index where the adapter has one.
        if (a->IfIndex != 0 && IsTunnelAdapter(a->IfType, unsigned(a->TunnelType), description))
            tunnels.insert(int(a->IfIndex));
    }
    return tunnels;
}
#endif
