#include "env/RegistryApi.h"

#include "platform/RegistryStore.h"

namespace fw {

namespace {
constexpr int kTextBuffer = 1024;
constexpr int kBinaryBuffer = 4096;
constexpr int kNumberBuffer = 4;
} // namespace

QVariant GetRegistryValue(const RegistryStore& store, quint32 hive, const QString& keyPath, const QString& valueName,
                          int typeCode, const QVariant& defaultValue)
{
    QVariant result = defaultValue;
    if (!store.keyExists(hive, keyPath))
        return result;
    switch (typeCode) {
    case RegTypeText: {
        const auto v = store.value(hive, keyPath, valueName);
        // The query fails when the data needs more than the buffer; an empty result cannot drop its terminator.
        if (!v || v->data.size() > kTextBuffer || v->data.isEmpty())
            break;
        result = QString::fromLocal8Bit(v->data.left(v->data.size() - 1));
        break;
    }
    case RegTypeBinary: {
        const auto v = store.value(hive, keyPath, valueName);
        if (!v || v->data.size() > kBinaryBuffer)
            break;
        result = v->data;
        break;
    }
    case RegTypeNumber: {
        const auto v = store.value(hive, keyPath, valueName);
        if (!v || v->data.size() > kNumberBuffer)
            break;
        quint32 n = 0; // shorter data fills only the low bytes of the zeroed buffer
        for (int i = 0; i < v->data.size(); ++i)
            n |= static_cast<quint32>(static_cast<uchar>(v->data[i])) << (8 * i);
        result = static_cast<qint32>(n);
        break;
    }
    default:
        // Unsupported type code (error 1001 inside the routine): the default stands.
        break;
    }
    return result;
}

} // namespace fw
