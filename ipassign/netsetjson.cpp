#include "netsetjson.h"

#include <cJSON.h>

#include <cstdlib>
#include <memory>

namespace {
using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

JsonPtr own(cJSON* item)
{
    return JsonPtr(item, &cJSON_Delete);
}

const char* orEmpty(const char* text)
{
    return text ? text : "";
}

// The container takes the item only when the add succeeds (copying the key may fail);
// otherwise the item is freed here.
bool addMember(cJSON* object, const char* key, JsonPtr item)
{
    if (!item || !cJSON_AddItemToObject(object, key, item.get()))
        return false;
    item.release();
    return true;
}

bool addString(cJSON* object, const char* key, const char* text)
{
    return addMember(object, key, own(cJSON_CreateString(orEmpty(text))));
}

bool addNumber(cJSON* object, const char* key, uint8_t value)
{
    return addMember(object, key, own(cJSON_CreateNumber(value)));
}

JsonPtr buildMnsEntry(const MnsEntry& entry)
{
    JsonPtr object = own(cJSON_CreateObject());
    if (!object || !addNumber(object.get(), "no", entry.no) || !addString(object.get(), "sip", entry.sip)
        || !addString(object.get(), "smask", entry.smask))
        return own(nullptr);
    return object;
}

JsonPtr buildMnsArray(const MnsEntry* first)
{
    JsonPtr array = own(cJSON_CreateArray());
    if (!array)
        return array;
    for (const MnsEntry* entry = first; entry; entry = entry->next) {
        JsonPtr object = buildMnsEntry(*entry);
        if (!object || !cJSON_AddItemToArray(array.get(), object.get()))
            return own(nullptr);
        object.release();
    }
    return array;
}
}

char* BuildNetSetJson(const NetSetParam* param, const char* sn, int* err)
{
    int ignored = 0;
    if (!err)
        err = &ignored;
    *err = kNetSetJsonError;
    if (!param)
        return nullptr;

    JsonPtr root = own(cJSON_CreateObject());
    if (!root)
        return nullptr;
    cJSON* r = root.get();
    if (!addString(r, "user", "") || !addString(r, "pass", "") || !addString(r, "sn", sn)
        || !addNumber(r, "net", param->net) || !addString(r, "ip", param->ip)
        || !addString(r, "mask", param->mask) || !addString(r, "gw", param->gw)
        || !addString(r, "mdns", param->mdns) || !addString(r, "adns", param->adns)
        || !addMember(r, "MNS", buildMnsArray(param->mns)))
        return nullptr;

    char* text = cJSON_PrintUnformatted(r);
    if (text)
        *err = 0;
    return text;
}

QByteArray BatchNetSetJson(
    const QByteArray& sn, const QByteArray& ip, const QByteArray& mask, const QByteArray& gw)
{
    NetSetParam param;
    param.net = 1;
    param.ip = ip.constData();
    param.mask = mask.constData();
    param.gw = gw.constData();
    int error = 0;
    std::unique_ptr<char, decltype(&free)> text(BuildNetSetJson(&param, sn.constData(), &error), &free);
    return text ? QByteArray(text.get()) : QByteArray();
}
