// An address of any bytes through the host key: the quick reading of plain
// names must give the endpoint curl's full reading gives (the path it keeps
// as written, where curl removes dot segments), and the keys must be stable
// (a key read again is the same key).
#include "Require.h"
#include "engine/address/HostKey.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView address(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto quick = HostKey::endpointOf(address);
    const auto parsed = HostKey::parsedEndpointOf(address);
    require(quick.has_value() == parsed.has_value());
    if (!quick)
        return 0;
    require(quick->scheme == parsed->scheme && quick->host == parsed->host && quick->port == parsed->port
            && quick->requestHost == parsed->requestHost && quick->userInfo == parsed->userInfo);
    // A host of other characters (curl lets "%%d3" through) names no server
    // a resolver would find: its key need only be its own.
    for (const char c : quick->host) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':'
              || c == '[' || c == ']'))
            return 0;
    }
    const QByteArray key = HostKey::requestKey(address);
    require(HostKey::requestKey(key) == key);
    require(HostKey::hostOf(key) == quick->host);
    return 0;
}
